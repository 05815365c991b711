#include "server/http_server.hpp"

#include <cstdio>
#include <memory>
#include <optional>

#include "runtime/frame_pool.hpp"
#include "server/http_error.hpp"
#include "transport/limits.hpp"

namespace relaydash {
namespace {

void reportHookFailure(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the error hook failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "the error hook failed\n");
  }
}

// A request's session lives where the handler's future may refer to it until that future
// completes: its address never changes. Its memory comes from the coroutine frame pool, as the
// frame it used to live in did.
struct SessionDeleter {
  void operator()(Session* session) const noexcept {
    std::destroy_at(session);
    releaseFrame(session, sizeof(Session));
  }
};
using SessionPtr = std::unique_ptr<Session, SessionDeleter>;

SessionPtr newSession(Request& request, Context& context) {
  void* memory = allocateFrame(sizeof(Session));
  return SessionPtr(::new (memory) Session{{}, request, context, {}, {}});
}

// Gives an error that escaped the handler to the hook.
Task<void> reportToHook(HttpServer& server, Session& session, std::exception_ptr error) {
  if (!server.onError) co_return;
  std::exception_ptr hookError;
  try {
    co_await server.onError(session, error);
  } catch (...) {
    hookError = std::current_exception();
  }
  // Nothing more can be sent for this request; the connection goes on.
  if (hookError) reportHookFailure(hookError);
}

// Waits for a handler that did not finish at once, keeping its session; its failure goes to
// the hook. The handler's future is let go before the session.
Task<void> finishRequest(HttpServer& server, SessionPtr session, Task<void> handling) {
  std::exception_ptr error;
  try {
    co_await std::move(handling);
  } catch (...) {
    error = std::current_exception();
  }
  if (error) co_await reportToHook(server, *session, error);
}

Task<void> failRequest(HttpServer& server, SessionPtr session, std::exception_ptr error) {
  co_await reportToHook(server, *session, error);
}

// Hands one request to the handler of its path, and an error that escapes the handler, at once
// or through its future, to the hook. The returned future never fails: the transport only
// learns that the request is over. Most handlers answer at once; only one that waits needs a
// coroutine to wait in.
Task<void> dispatchRequest(HttpServer& server, const ContextFactory& newContext, Request& request) {
  SessionPtr session = newSession(request, newContext());
  const auto match = server.router.route(request.url.path, session->pathStorage);
  session->path = match.rest;

  std::optional<Task<void>> handling;
  try {
    const bool redirect = server.redirectPlainHttp && !request.secure &&
                          !request.hostname.starts_with("127.") && request.headers.hasKey("host");
    handling.emplace(redirect ? redirectToHttps(*session) : match.value(*session));
  } catch (...) {
    return failRequest(server, std::move(session), std::current_exception());
  }
  if (handling->isReady()) return Task<void>::ready();
  return finishRequest(server, std::move(session), std::move(*handling));
}

}  // namespace

Task<void> redirectToHttps(Session& session) {
  const Request& request = session.request;
  const std::vector<std::string>* host = request.headers.find("host");
  std::string location = "https://" + (host ? host->front() : std::string()) + request.url.path;
  if (!request.url.query.empty()) location += "?" + request.url.query;
  const HeaderField fields[] = {{"Location", location}};
  co_await respond(session, 308, "", fields);
}

Task<void> notFoundHandler(Session& session) {
  return respond(session, 404);
}

std::unique_ptr<HttpServer> newHttpServer(long maxBody) {
  return std::make_unique<HttpServer>(HttpServer{newAsyncHttpServer(true, false, maxBody),
                                                 Router<HttpHandler>(notFoundHandler),
                                                 defaultOnError});
}

void mount(HttpServer& server, std::string_view path, HttpHandler handler) {
  server.router.mount(path, std::move(handler));
}

void catchErrors(HttpServer& server, ErrorHandler hook) {
  server.onError = std::move(hook);
}

Task<void> serve(HttpServer& server, ContextFactory newContext, int port, std::string address) {
  // The callback is kept by the transport for as long as it serves, and with it the factory.
  RequestCallback callback = [&server, newContext = std::move(newContext)](Request& request) {
    return dispatchRequest(server, newContext, request);
  };
  co_await server.server->serve(port, std::move(callback), std::move(address),
                                limits::kReservedDescriptors);
}

Task<void> defaultOnError(Session& session, std::exception_ptr error) {
  int status = 500;
  JsonNodePtr body;
  try {
    std::rethrow_exception(error);
  } catch (const HttpException& e) {
    status = e.httpCode();
    body = newJsonError(e);
  } catch (...) {
    body = newJsonError(ErrorCode::UnspecifiedError);
  }
  co_await respond(session, status, *body);
}

}  // namespace relaydash
