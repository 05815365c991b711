#include "server/http_handler.hpp"

#include <gtest/gtest.h>

#include "json/writer.hpp"
#include "server/http_error.hpp"
#include "server_fixture.hpp"

namespace relaydash {
namespace {

using testing::FrameworkTest;

std::string jsonAnswer(int status, const std::string& text, const std::string& body) {
  return std::string("HTTP/1.1 ")
      .append(std::to_string(status))
      .append(" ")
      .append(text)
      .append("\r\nContent-Type: application/json\r\nContent-Length: ")
      .append(std::to_string(body.size()))
      .append("\r\n\r\n")
      .append(body);
}

std::string post(const std::string& path, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

class JsonApi : public FrameworkTest {
 protected:
  void SetUp() override {
    auto procedures = newJsonApiRouter();
    // Echoes the request object it was given.
    procedures->mount("login/password", [](Session&, JsonNodePtr input) -> Task<JsonNodePtr> {
      auto answer = newJObject();
      answer->set("output", input);
      co_return answer;
    });
    procedures->mount("scalar",
                      [](Session&, JsonNodePtr) -> Task<JsonNodePtr> { co_return newJInt(5); });
    procedures->mount("denied", [](Session&, JsonNodePtr) -> Task<JsonNodePtr> {
      raiseHttpException(403, ErrorCode::InsufficientAccessRight);
    });
    const HttpHandler handler = jsonApiHandler(procedures);
    mount(*server, "rpc", handler);
    mount(*server, "rpc/v1", handler);
    start();
  }
};

TEST_F(JsonApi, ProcedureFromTheBodyOrTheUrl) {
  EXPECT_EQ(ask(post("/rpc", R"({"path":"login/password","x":1})")),
            jsonAnswer(200, "OK", R"({"output":{"path":"login/password","x":1}})"));
  EXPECT_EQ(ask(post("/rpc/v1/login/password", R"({"x":1})")),
            jsonAnswer(200, "OK", R"({"output":{"x":1,"path":"login/password"}})"));
  EXPECT_EQ(ask(post("/rpc", R"({"path":"login/password/extra"})")),
            jsonAnswer(200, "OK", R"({"output":{"path":"login/password/extra"}})"));
}

TEST_F(JsonApi, PinIsEchoed) {
  EXPECT_EQ(ask(post("/rpc/login/password", R"({"pin":7})")),
            jsonAnswer(200, "OK", R"({"output":{"pin":7,"path":"login/password"},"pin":7})"));
  EXPECT_EQ(ask(post("/rpc/scalar", R"({"pin":[1]})")),
            jsonAnswer(500, "Internal Server Error",
                       R"({"error":{"code":10000,"message":"Unspecified error"}})"));
  EXPECT_EQ(ask(post("/rpc/scalar", R"({})")), jsonAnswer(200, "OK", "5"));
  // Every answer is JSON: a number no double holds is refused as the invalid JSON it cannot be
  // echoed as, and one too small for a double echoes as the zero it reads as.
  EXPECT_EQ(ask(post("/rpc/login/password", R"({"pin":1e999})")),
            jsonAnswer(500, "Internal Server Error",
                       R"({"error":{"code":10000,"message":"Unspecified error"}})"));
  EXPECT_EQ(ask(post("/rpc/login/password", R"({"pin":-1e-999})")),
            jsonAnswer(200, "OK", R"({"output":{"pin":-0.0,"path":"login/password"},"pin":-0.0})"));
}

TEST_F(JsonApi, FailureRows) {
  const std::string unspecified = R"({"error":{"code":10000,"message":"Unspecified error"}})";
  EXPECT_EQ(
      ask(post("/rpc", R"({"x":1})")),
      jsonAnswer(400, "Bad Request", R"({"error":{"code":21031,"message":"Missing field"}})"));
  EXPECT_EQ(ask(post("/rpc", R"({"path":5})")),
            jsonAnswer(404, "Not Found", R"({"error":{"code":22001,"message":"Unknown path"}})"));
  EXPECT_EQ(ask(post("/rpc/nothing", R"({})")),
            jsonAnswer(404, "Not Found", R"({"error":{"code":22001,"message":"Unknown path"}})"));
  EXPECT_EQ(ask("GET /rpc HTTP/1.1\r\n\r\n"),
            jsonAnswer(400, "Bad Request",
                       R"({"error":{"code":21011,"message":"POST method is required"}})"));
  EXPECT_EQ(ask(post("/rpc/login/password", "")),
            jsonAnswer(500, "Internal Server Error", unspecified));
  EXPECT_EQ(ask(post("/rpc/login/password", "{nope")),
            jsonAnswer(500, "Internal Server Error", unspecified));
  EXPECT_EQ(ask(post("/rpc/login/password", "[1,2]")),
            jsonAnswer(500, "Internal Server Error", unspecified));
  EXPECT_EQ(ask(post("/rpc/denied", "{}")),
            jsonAnswer(403, "Forbidden",
                       R"({"error":{"code":28002,"message":"Insufficient access right"}})"));
}

TEST_F(JsonApi, Preflight) {
  EXPECT_EQ(ask("OPTIONS /rpc HTTP/1.1\r\nAccess-Control-Request-Method: POST\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
            "Access-Control-Allow-Methods: POST, OPTIONS\r\nAccess-Control-Allow-Headers: "
            "Content-Type\r\nAccess-Control-Max-Age: 86400\r\nContent-Length: 0\r\n\r\n");
  const std::string bad = "HTTP/1.1 400 Bad Request\r\nContent-Length: 15\r\n\r\n400 Bad Request";
  EXPECT_EQ(ask("OPTIONS /rpc HTTP/1.1\r\nAccess-Control-Request-Method: GET\r\n\r\n"), bad);
  EXPECT_EQ(ask("OPTIONS /rpc HTTP/1.1\r\nAccess-Control-Request-Method: post\r\n\r\n"), bad);
  EXPECT_EQ(ask("OPTIONS /rpc HTTP/1.1\r\nAccess-Control-Request-Method: POST, GET\r\n\r\n"), bad);
  EXPECT_EQ(ask("OPTIONS /rpc HTTP/1.1\r\n\r\n"), bad);
}

}  // namespace
}  // namespace relaydash
