#include "api/account/password_turn.hpp"

#include <chrono>
#include <optional>
#include <string>

#include "api/context.hpp"
#include "runtime/event_loop.hpp"
#include "transport/request.hpp"

namespace relaydash {

Task<SignInThrottle::Ticket> turnToCheckPassword(Session& session) {
  Context& ctx = session.context;
  std::optional<SignInThrottle::Ticket> place =
      ctx.signIns.admit(session.request.hostname, ctx.clock.now());
  if (!place)
    throw SignInDropped("password checks queued from " + std::string(session.request.hostname));
  if (place->wait() > SignInThrottle::Duration::zero()) {
    co_await SleepFor(std::chrono::ceil<std::chrono::milliseconds>(place->wait()));
  }
  co_return std::move(*place);
}

}  // namespace relaydash
