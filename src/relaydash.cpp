#include "relaydash.hpp"

#include <csignal>
#include <cstdio>

#include "ctx.hpp"
#include "json/writer.hpp"
#include "model/account_model.hpp"
#include "route.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/socket.hpp"
#include "server/http_error.hpp"
#include "server/http_server.hpp"
#include "sign_in_throttle.hpp"
#include "static_files.hpp"
#include "transport/request.hpp"

namespace relaydash {
namespace {

// The health answer never changes: it is written once.
const std::string& healthBody() {
  static const std::string body = [] {
    auto kit = newJObject();
    kit->set("kit", newJString("1.4.2"));
    return toCompact(*kit);
  }();
  return body;
}

}  // namespace

void printLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

Task<void> healthCheck(Session& session) {
  // The same bytes the JSON form of respond writes, without building them per request.
  static HttpHeaders headers = [] {
    HttpHeaders h;
    h.set("Content-Type", "application/json");
    return h;
  }();
  co_await respond(session, 200, std::string_view(healthBody()), &headers);
}

Task<void> redirectToUi(Session& session) {
  static HttpHeaders headers = [] {
    HttpHeaders h;
    h.set("Location", "/ui");
    return h;
  }();
  co_await respond(session, 302, std::string_view(), &headers);
}

void relaydash(const std::string& listen, int port, const std::string& forwarderConfigPath,
               const std::string& forwarderUnitServiceName, const std::string& dataPath) {
  printLine("starting relaydash v" + std::string(kVersion));
  // A file grown past the size limit (RLIMIT_FSIZE) must fail its write with EFBIG, which the
  // configuration's writers report, rather than end the server.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::shared_ptr<Context> context =
      newContext(forwarderConfigPath, forwarderUnitServiceName, dataPath);
  init(*context);

  const std::unique_ptr<HttpServer> server = newHttpServer(kMaxRequestBody);
  setupJsonApiRoute(*server);
  mount(*server, "ui", staticFileHandler2(uiFiles));
  mount(*server, "health", healthCheck);
  mount(*server, "", redirectToUi);
  catchErrors(*server, mainOnError);

  // Printed before binding, so it also shows when binding then fails.
  printLine("Listening " + listen + ":" + std::to_string(port));
  // Declared last, so it goes first: the tasks it still holds go before what they refer to.
  EventLoop loop;
  loop.blockOn(serve(
      *server, [&context]() -> Context& { return *context; }, port, listen));
}

Task<void> mainOnError(Session& session, std::exception_ptr error) {
  // The account errors answer as a password mismatch; anything unexpected is printed. The
  // answer itself is the default hook's.
  try {
    std::rethrow_exception(error);
  } catch (const HttpException&) {
  } catch (const SignInDropped&) {
    // No answer at all: any answer would say something about the password it did not check.
    // The transport sees the socket closed and ends the connection.
    session.request.client->close();
    co_return;
  } catch (const UserNotFoundError&) {
    error = std::make_exception_ptr(newHttpException(400, ErrorCode::PasswordMismatch));
  } catch (const HashNotMatchError&) {
    error = std::make_exception_ptr(newHttpException(400, ErrorCode::PasswordMismatch));
  } catch (const std::exception& e) {
    printLine(e.what());
  } catch (...) {
    printLine("unknown error");
  }
  co_await defaultOnError(session, error);
}

}  // namespace relaydash
