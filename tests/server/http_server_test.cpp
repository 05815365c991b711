#include "server/http_server.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "runtime/os_error.hpp"

#include "server/http_error.hpp"
#include "server_fixture.hpp"

namespace relaydash {
namespace {

using testing::FrameworkTest;
using testing::LoopbackClient;

const std::string kInvalidToken =
    "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nContent-Length: 55\r\n\r\n"
    R"({"error":{"code":23010,"message":"Invalid auth token"}})";
const std::string kUnspecified =
    "HTTP/1.1 500 Internal Server Error\r\nContent-Type: application/json\r\n"
    "Content-Length: 54\r\n\r\n"
    R"({"error":{"code":10000,"message":"Unspecified error"}})";

// Raises before it has a future to return.
HttpHandler raisesAtOnce() {
  return [](Session&) -> Task<void> { raiseHttpException(403, ErrorCode::InvalidAuthToken); };
}

Task<void> failsLater(Session&) {
  co_await SleepFor(std::chrono::milliseconds(1));
  raiseHttpException(403, ErrorCode::InvalidAuthToken);
}

Task<void> failsPlainly(Session&) {
  throw std::runtime_error("boom");
  co_return;
}

Task<void> answersNothing(Session&) {
  co_return;
}

class Wrapper : public FrameworkTest {};

TEST_F(Wrapper, UnmatchedPathsAreNotFoundUntilARootHandlerIsMounted) {
  start();
  EXPECT_EQ(ask("GET /nothing/here HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 404 Not Found\r\nContent-Length: 13\r\n\r\n404 Not Found");
}

TEST_F(Wrapper, TheRootHandlerSeesTheWholeNormalisedPath) {
  mount(*server, "", [](Session& s) -> Task<void> {
    co_await respond(s, 200, std::string(s.path) + " " + s.context.forwarderUnitServiceName);
  });
  mount(*server, "api", [](Session& s) -> Task<void> { co_await respond(s, 200, s.path); });
  start();
  EXPECT_EQ(ask("GET //a//b/?q=1 HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Length: 18\r\n\r\na/b framework-test");
  EXPECT_EQ(ask("GET /api/x/y HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nx/y");
}

TEST_F(Wrapper, DefaultHookAnswersErrorsRaisedAtOnceOrLater) {
  mount(*server, "now", raisesAtOnce());
  mount(*server, "later", failsLater);
  mount(*server, "plain", failsPlainly);
  start();
  EXPECT_EQ(ask("GET /now HTTP/1.1\r\n\r\n"), kInvalidToken);
  EXPECT_EQ(ask("GET /later HTTP/1.1\r\n\r\n"), kInvalidToken);
  EXPECT_EQ(ask("GET /plain HTTP/1.1\r\n\r\n"), kUnspecified);
}

TEST_F(Wrapper, WithoutAHookAFailingRequestGetsNoAnswerButTheConnectionGoesOn) {
  mount(*server, "fail", failsPlainly);
  mount(*server, "silent", answersNothing);
  mount(*server, "ok", [](Session& s) -> Task<void> { co_await respond(s, 200, "ok"); });
  catchErrors(*server, nullptr);
  start();
  LoopbackClient client(port());
  client.send("GET /fail HTTP/1.1\r\n\r\nGET /silent HTTP/1.1\r\n\r\nGET /ok HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.readAnswer(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
}

TEST_F(Wrapper, AFailingHookStillFinishesTheRequest) {
  mount(*server, "fail", failsPlainly);
  mount(*server, "ok", [](Session& s) -> Task<void> { co_await respond(s, 200, "ok"); });
  catchErrors(*server, [](Session&, std::exception_ptr) -> Task<void> {
    throw std::runtime_error("the hook fails too");
    co_return;
  });
  start();
  LoopbackClient client(port());
  client.send("GET /fail HTTP/1.1\r\n\r\nGET /ok HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.readAnswer(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
}

TEST_F(Wrapper, OnlyTheLastHookIsInForce) {
  mount(*server, "fail", failsPlainly);
  catchErrors(*server, [](Session& s, std::exception_ptr) -> Task<void> {
    co_await respond(s, 200, "first");
  });
  catchErrors(*server, [](Session& s, std::exception_ptr) -> Task<void> {
    co_await respond(s, 200, "second");
  });
  start();
  EXPECT_EQ(ask("GET /fail HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond");
}

TEST(Serve, AnAddressInUseFailsTheFuture) {
  EventLoop loop;
  auto first = newHttpServer(4096);
  Context context;
  auto factory = [&context]() -> Context& { return context; };
  loop.spawn(serve(*first, factory, 0, "127.0.0.1"));
  auto second = newHttpServer(4096);
  try {
    loop.blockOn(serve(*second, factory, first->server->localPort(), "127.0.0.1"));
    FAIL();
  } catch (const OSError& e) {
    EXPECT_EQ(e.errorCode(), EADDRINUSE);
  }
}

}  // namespace
}  // namespace relaydash
