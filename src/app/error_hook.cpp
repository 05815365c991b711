#include "app/error_hook.hpp"

#include "api/errors.hpp"
#include "runtime/print_line.hpp"
#include "security/sign_in_throttle.hpp"
#include "server/http_error.hpp"
#include "server/http_server.hpp"
#include "transport/answer_writer.hpp"
#include "transport/request.hpp"

namespace relaydash {

Task<void> mainOnError(Session& session, std::exception_ptr error) {
  // An HttpException answers as itself, and the errors every procedure shares as api/errors
  // says; a command stopped at its time limit and anything unexpected is printed too. The
  // answer itself is the default hook's.
  try {
    std::rethrow_exception(error);
  } catch (const HttpException&) {
  } catch (const SignInDropped&) {
    // No answer at all: any answer would say something about the password it did not check.
    // The answers to earlier requests on the connection still go out.
    session.request.writer->closeWithoutAnswer();
    co_return;
  } catch (const std::exception& e) {
    std::optional<HttpException> answer = commonAnswer(error);
    if (!answer || answer->httpCode() == 500) printLine(e.what());
    if (answer) error = std::make_exception_ptr(*answer);
  } catch (...) {
    printLine("unknown error");
  }
  co_await defaultOnError(session, error);
}

}  // namespace relaydash
