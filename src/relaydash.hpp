#pragma once

#include <exception>
#include <string>

#include "runtime/task.hpp"
#include "server/http_session.hpp"

namespace relaydash {

inline constexpr std::string_view kVersion = "1.1.1";
// The largest request body the server accepts, in bytes.
inline constexpr long kMaxRequestBody = 4096;

// The main procedure: prints the banner, builds the context and the server, mounts the JSON
// API, the web application, the health check and the redirect, and serves until serving
// fails. Leaves only by raising.
void relaydash(const std::string& listen, int port, const std::string& forwarderConfigPath,
               const std::string& forwarderUnitServiceName, const std::string& dataPath);

// Answers every request with 200 and {"kit":"1.4.2"}.
Task<void> healthCheck(Session& session);

// Answers every request with 302 to "/ui".
Task<void> redirectToUi(Session& session);

// The application's error hook: an HttpException answers with its own status and body; the
// account errors answer 400 with code 24004; a sign-in attempt dropped by the throttle closes
// the connection unanswered; anything else is printed and answered 500 with code 10000.
Task<void> mainOnError(Session& session, std::exception_ptr error);

// Prints one line on standard output and flushes it.
void printLine(std::string_view line);

}  // namespace relaydash
