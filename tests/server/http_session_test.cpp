#include "server/http_session.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "json/parser.hpp"
#include "server_fixture.hpp"

namespace relaydash {
namespace {

using testing::FrameworkTest;
using testing::LoopbackClient;

TEST(HttpHeaderCase, Examples) {
  const std::pair<std::string, std::string> cases[] = {
      {"content-type", "Content-Type"},
      {"access-control-max-age", "Access-Control-Max-Age"},
      {"x_forwarded__for", "X-Forwarded-For"},
      {"contentLength", "Content-Length"},
      {"ETag", "E-Tag"},
      {"content-md5", "Content-Md5"},
      {"location", "Location"},
      {"", ""},
      {"-x", "-x"},
      {"a-", "A-"},
      {"1st-try", "1st-Try"},
  };
  for (const auto& [name, written] : cases)
    EXPECT_EQ(httpHeaderCase(name), written) << name;
}

class Respond : public FrameworkTest {};

TEST_F(Respond, EveryFormWritesExactBytes) {
  mount(*server, "text", [](Session& s) -> Task<void> { co_await respond(s, 200, "ok"); });
  mount(*server, "empty", [](Session& s) -> Task<void> { co_await respond(s, 200, ""); });
  mount(*server, "status", [](Session& s) -> Task<void> { co_await respond(s, 404); });
  mount(*server, "odd", [](Session& s) -> Task<void> { co_await respond(s, 299); });
  mount(*server, "json",
        [](Session& s) -> Task<void> { co_await respond(s, *parseJson(R"({"a":1})")); });
  mount(*server, "headers", [](Session& s) -> Task<void> {
    HttpHeaders headers;
    headers.set("access-control-allow-origin", "*");
    headers.set("set-cookie", std::vector<std::string>{"a=1", "b=2"});
    headers.set("content-length", "99");
    co_await respond(s, 201, "x", headers);
  });
  start();

  EXPECT_EQ(ask("GET /text HTTP/1.1\r\n\r\n"), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  EXPECT_EQ(ask("GET /empty HTTP/1.1\r\n\r\n"), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(ask("GET /status HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 404 Not Found\r\nContent-Length: 13\r\n\r\n404 Not Found");
  EXPECT_EQ(ask("GET /odd HTTP/1.1\r\n\r\n"), "HTTP/1.1 299\r\nContent-Length: 3\r\n\r\n299");
  EXPECT_EQ(ask("GET /json HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 7\r\n\r\n"
            "{\"a\":1}");
  // Two Content-Length lines: read until the server closes rather than trusting either.
  LoopbackClient client(port());
  client.send("GET /headers HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(client.readUntilClosed(),
            "HTTP/1.1 201 Created\r\nAccess-Control-Allow-Origin: *\r\nSet-Cookie: a=1\r\n"
            "Set-Cookie: b=2\r\nContent-Length: 99\r\nContent-Length: 1\r\n\r\nx");
}

TEST_F(Respond, TheJsonFormSetsTheContentTypeInTheCallersMap) {
  mount(*server, "", [](Session& s) -> Task<void> {
    HttpHeaders headers;
    headers.set("Content-Type", "text/plain");
    headers.set("x-a", "1");
    co_await respond(s, 200, *parseJson("[]"), headers);
    // A second answer reports what the map holds now.
    co_await respond(s, 200, headers.first("content-type"));
  });
  start();
  LoopbackClient client(port());
  client.send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.readAnswer(),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nX-A: 1\r\nContent-Length: 2"
            "\r\n\r\n[]");
  EXPECT_EQ(client.readAnswer(), "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\napplication/json");
}

TEST_F(Respond, HeadAnswersCarryTheLengthButNoBody) {
  mount(*server, "", [](Session& s) -> Task<void> { co_await respond(s, 200, "hello"); });
  start();
  LoopbackClient client(port());
  client.send("HEAD / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.readFor(),
            "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"
            "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
}

TEST_F(Respond, AnswersToAPeerThatHasGoneCompleteQuietly) {
  std::atomic<bool> completed = false;
  mount(*server, "", [&completed](Session& s) -> Task<void> {
    co_await SleepFor(std::chrono::milliseconds(100));
    const std::string big(1 << 22, 'x');
    co_await respond(s, 200, big);
    co_await respond(s, 200, big);
    completed = true;
  });
  start();
  {
    LoopbackClient client(port());
    client.send("GET / HTTP/1.1\r\n\r\n");
  }
  // The handler finishes without error; the server goes on serving.
  LoopbackClient next(port());
  for (int i = 0; i < 1000 && !completed; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(completed);
}

}  // namespace
}  // namespace relaydash
