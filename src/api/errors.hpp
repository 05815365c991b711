#pragma once

#include <exception>
#include <optional>

#include "gateway/config_change.hpp"
#include "server/http_error.hpp"

namespace relaydash {

// Where the errors of the domains under the API become answers, all in one place.

// For every procedure, and so for the error hook: the account errors answer as a password
// mismatch (400, 24004); a command stopped at its time limit answers 500, code 10001, with the
// command's message. Nothing for any other error.
std::optional<HttpException> commonAnswer(const std::exception_ptr& error);

// For the procedures whose failures answer by domain, raised in place of error: a gateway tool
// that failed answers 500, code 10001, with its message; a file the server could not read or
// write the same; a staged upload that is unknown, out of order or too large 404 / 400; the
// common answers above. Any other error is raised again as it is.
[[noreturn]] void raiseDomainAnswer(const std::exception_ptr& error);

// The status and code of a change of the forwarder's configuration that did not apply.
struct RefusalAnswer {
  int status;
  ErrorCode code;
};
RefusalAnswer refusalAnswer(ChangeResult result);

}  // namespace relaydash
