#include "api/gateway/gateway.hpp"

#include <array>

namespace relaydash {
namespace {

constexpr std::array kProcedures{
    Procedure{"gateway/status", gateway_status},
    Procedure{"gateway/logs", gateway_logs},
};

}  // namespace

std::span<const Procedure> gatewayProcedures() {
  return kProcedures;
}

}  // namespace relaydash
