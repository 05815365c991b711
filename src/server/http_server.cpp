#include "server/http_server.hpp"

#include <cstdio>

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

// Hands one request to the handler of its path, and an error that escapes the handler to the
// hook. Its future never fails: the transport only learns that the request is over.
Task<void> dispatchRequest(HttpServer& server, const ContextFactory& newContext, Request& request) {
  Session session{{}, request, newContext(), {}, {}};
  const auto match = server.router.route(request.url.path, session.pathStorage);
  session.path = match.rest;

  std::exception_ptr error;
  try {
    // Covers both a handler that raises at once and one whose future fails.
    co_await match.value(session);
  } catch (...) {
    error = std::current_exception();
  }
  if (!error || !server.onError) co_return;

  std::exception_ptr hookError;
  try {
    co_await server.onError(session, error);
  } catch (...) {
    hookError = std::current_exception();
  }
  // Nothing more can be sent for this request; the connection goes on.
  if (hookError) reportHookFailure(hookError);
}

}  // namespace

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
                                limits::kDescriptorsPerRequest);
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
