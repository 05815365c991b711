#pragma once

#include <exception>

#include "runtime/task.hpp"
#include "server/http_session.hpp"

namespace relaydash {

// The application's error hook: an HttpException answers with its own status and body; the
// account errors answer 400 with code 24004; a password check dropped by the throttle closes
// the connection unanswered; a systemctl command stopped at its time limit is printed and
// answered 500 with code 10001 and what was stopped; anything else is printed and answered 500
// with code 10000.
Task<void> mainOnError(Session& session, std::exception_ptr error);

}  // namespace relaydash
