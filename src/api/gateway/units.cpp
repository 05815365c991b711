#include "api/gateway/units.hpp"

#include "api/context.hpp"
#include "server/http_error.hpp"

namespace relaydash {

std::string unitFor(const Context& ctx, std::string_view name) {
  if (name == "ssh") return std::string(kSshUnit);
  if (ctx.forwarderUnitServiceName.empty()) {
    raiseHttpException(400, ErrorCode::Invalid,
                       "The forwarder is not run as a systemd unit here "
                       "(--forwarderUnitServiceName is empty), so it has no journal to read");
  }
  return ctx.forwarderUnitServiceName;
}

}  // namespace relaydash
