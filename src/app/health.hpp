#pragma once

#include "runtime/task.hpp"
#include "server/http_session.hpp"

namespace relaydash {

// The two handlers whose answers never change.

// Answers every request with 200 and {"kit":"1.4.2"}.
Task<void> healthCheck(Session& session);

// Answers every request with 302 to "/ui".
Task<void> redirectToUi(Session& session);

}  // namespace relaydash
