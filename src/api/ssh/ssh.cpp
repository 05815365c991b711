#include "api/ssh/ssh.hpp"

#include <array>
#include <string>

#include "api/gateway/units.hpp"
#include "gateway/service_control.hpp"

namespace relaydash {
namespace {

Task<JsonNodePtr> sshd_start(Call&) {
  co_await start(std::string(kSshUnit));
  co_await enable(std::string(kSshUnit));
  co_return newJObject();
}

Task<JsonNodePtr> sshd_stop(Call&) {
  co_await stop(std::string(kSshUnit));
  co_await disable(std::string(kSshUnit));
  co_return newJObject();
}

constexpr std::array kProcedures{
    Procedure{"sshd/start", sshd_start, Access::SignedIn, kAuditSshStart, AuditFrom::Start,
              ErrorAnswers::Generic},
    Procedure{"sshd/stop", sshd_stop, Access::SignedIn, kAuditSshStop, AuditFrom::Start,
              ErrorAnswers::Generic},
};

}  // namespace

std::span<const Procedure> sshProcedures() {
  return kProcedures;
}

}  // namespace relaydash
