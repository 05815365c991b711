#include "error_hook.hpp"

#include "gateway/service_control.hpp"
#include "model/account_model.hpp"
#include "print_line.hpp"
#include "server/http_error.hpp"
#include "server/http_server.hpp"
#include "sign_in_throttle.hpp"
#include "transport/answer_writer.hpp"
#include "transport/request.hpp"

namespace relaydash {

Task<void> mainOnError(Session& session, std::exception_ptr error) {
  // The account errors answer as a password mismatch; a command stopped at its time limit
  // answers as an internal error that says so. That and anything unexpected is printed. The
  // answer itself is the default hook's.
  try {
    std::rethrow_exception(error);
  } catch (const HttpException&) {
  } catch (const SignInDropped&) {
    // No answer at all: any answer would say something about the password it did not check.
    // The answers to earlier requests on the connection still go out.
    session.request.writer->closeWithoutAnswer();
    co_return;
  } catch (const UserNotFoundError&) {
    error = std::make_exception_ptr(newHttpException(400, ErrorCode::PasswordMismatch));
  } catch (const HashNotMatchError&) {
    error = std::make_exception_ptr(newHttpException(400, ErrorCode::PasswordMismatch));
  } catch (const CommandTimedOut& e) {
    // One that failed instead answers as any other unexpected error.
    printLine(e.what());
    error = std::make_exception_ptr(newHttpException(500, ErrorCode::InternalError, e.what()));
  } catch (const std::exception& e) {
    printLine(e.what());
  } catch (...) {
    printLine("unknown error");
  }
  co_await defaultOnError(session, error);
}

}  // namespace relaydash
