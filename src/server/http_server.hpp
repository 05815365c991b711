#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/task.hpp"
#include "server/http_session.hpp"
#include "server/router.hpp"
#include "transport/async_http_server.hpp"

namespace relaydash {

// Serves one request: answers through respond, and reports failure by raising at once or by
// failing its future.
using HttpHandler = std::function<Task<void>(Session&)>;
// The error hook: given the session and the error that escaped its handler, it is expected to
// answer the request.
using ErrorHandler = std::function<Task<void>(Session&, std::exception_ptr)>;
// Gives every request the application context.
using ContextFactory = std::function<Context&()>;

// The server object: the transport, the router of handlers and the error hook.
struct HttpServer {
  std::unique_ptr<AsyncHttpServer> server;
  Router<HttpHandler> router;
  ErrorHandler onError;
  // Plain HTTP from another machine is answered with a redirect to the same address over
  // HTTPS (redirectToHttps) instead of being served.
  bool redirectPlainHttp = false;
};

// A server whose transport accepts request bodies up to maxBody bytes, whose router answers
// every path with the not-found handler, and whose hook is defaultOnError.
std::unique_ptr<HttpServer> newHttpServer(long maxBody);

// Mounts the handler on the path; the empty path replaces the default (the not-found handler).
void mount(HttpServer& server, std::string_view path, HttpHandler handler);

// Replaces the error hook (an empty one is allowed: failing requests then get no answer).
void catchErrors(HttpServer& server, ErrorHandler hook);

// Listens on the address and port and serves until serving fails (then the future fails with
// that error, e.g. OSError when the address is in use). Every request goes to the handler of
// its deepest mounted prefix; an error that escapes it goes to the hook.
Task<void> serve(HttpServer& server, ContextFactory newContext, int port, std::string address);

// The default hook: an HttpException becomes its status with the JSON error body; any other
// error 500 with code 10000.
Task<void> defaultOnError(Session& session, std::exception_ptr error);

// Answers 308 with Location: the request's Host and target under https://. Plain requests
// without a Host header are served as they are.
Task<void> redirectToHttps(Session& session);

// Answers 404 with the body "404 Not Found".
Task<void> notFoundHandler(Session& session);

}  // namespace relaydash
