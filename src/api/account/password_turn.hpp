#pragma once

#include "runtime/task.hpp"
#include "security/sign_in_throttle.hpp"
#include "server/http_session.hpp"

namespace relaydash {

// Waits for the request's turn to have a password checked: an address, a network or a gateway
// that keeps failing waits its turn, and the answer, when it comes, is the same. The ticket is to
// be held until the check is done. Raises SignInDropped when the attempt cannot even wait.
Task<SignInThrottle::Ticket> turnToCheckPassword(Session& session);

}  // namespace relaydash
