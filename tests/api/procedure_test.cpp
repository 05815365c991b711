#include "api/procedure.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "api/context.hpp"
#include "app/mounts.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "runtime/event_loop.hpp"
#include "security/token_seal.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::kDone;
using testing::kSample;
using testing::kUnspecified;
using testing::Reply;
using ManagementApi = testing::ManagementApi;

// The table as start-up mounts it: each path once, the sign-in and the server's HTTPS facts the
// only procedures open to anyone, and the API's first procedures answering failures as they
// always have.
TEST(ProcedureTable, OnlyTheSignInIsOpenAndTheFirstProceduresAnswerAsEver) {
  std::set<std::string_view> paths;
  for (const Procedure& procedure : allProcedures()) {
    EXPECT_TRUE(paths.insert(procedure.path).second) << procedure.path;
    EXPECT_EQ(procedure.access == Access::Open,
              procedure.path == "login/password" || procedure.path == "server/tls")
        << procedure.path;
    const bool first = std::set<std::string_view>{"login/password",       "password/update",
                                                  "sshd/start",           "sshd/stop",
                                                  "forwarder-config/get", "forwarder-config/patch"}
                           .contains(procedure.path);
    EXPECT_EQ(procedure.errors == ErrorAnswers::Generic, first) << procedure.path;
    EXPECT_EQ(procedure.auditAction.empty(), procedure.auditFrom == AuditFrom::None)
        << procedure.path;
  }
  EXPECT_EQ(paths.size(), 21u);
}

TEST_F(ManagementApi, LoginHandsOutATokenOnBothMounts) {
  for (const auto& [path, extra] : {std::pair{"/rpc/v1/login/password", ""},
                                    std::pair{"/rpc", R"(,"path":"login/password")"}}) {
    const Reply reply =
        call(path, std::string(R"({"username":"admin","password":"quilm")") + extra + "}");
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::string auth = parseJson(reply.body)->at("output")->at("auth")->getString();
    EXPECT_EQ(auth.size(), 64u);
    EXPECT_EQ(toCompact(*context->tokenKeys.open(auth, context->clock.now())),
              R"({"username":"admin"})");
  }

  const struct {
    const char* body;
    Reply reply;
  } rows[] = {
      {R"({"password":"quilm"})", {400, error(21031, "Missing field username")}},
      {R"({"username":"admin"})", {400, error(21031, "Missing field password")}},
      {R"({"username":5,"password":"quilm"})",
       {400, error(23001, "Field username is not a string")}},
      {R"({"username":"admin","password":123456789012345678901234567890})",
       {400, error(23001, "Field password is not a string")}},
      {R"({"username":"root","password":"quilm"})", {400, error(24004, "Password mismatch")}},
      {R"({"username":"admin","password":"Quilm"})", {403, error(23009, "Invalid password")}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(call("/rpc/login/password", row.body), row.reply);
}

TEST_F(ManagementApi, GuardedProceduresDoNothingWithoutAGoodToken) {
  const std::string original = readFile(configPath);
  const std::string token = this->token();
  std::string altered = token;
  altered[20] = altered[20] == 'A' ? 'B' : 'A';
  const auto sealed = [this](const char* payload) {
    return context->tokenKeys.issue(*parseJson(payload), context->clock.now());
  };
  const struct {
    std::string auth;
    Reply reply;
  } rows[] = {
      {"", {400, error(21031, "Missing field auth")}},
      {R"("auth":5)", {400, error(23001, "Field auth is not a string")}},
      {R"("auth":"")", {403, error(23010, "Invalid auth token")}},
      {R"("auth":")" + altered + "\"", {403, error(23010, "Invalid auth token")}},
      {R"("auth":"not a token")", {403, error(28002, "Insufficient access right")}},
      {R"("auth":")" + sealed(R"({"user":"admin"})") + "\"",
       {403, error(28002, "Insufficient access right")}},
      {R"("auth":")" + sealed("[1]") + "\"", {403, error(28002, "Insufficient access right")}},
  };
  const std::string input = R"("input":{"currentPassword":"quilm","newPassword":"x","y":1})";
  for (const char* path : {"/rpc/forwarder-config/get", "/rpc/forwarder-config/patch",
                           "/rpc/password/update", "/rpc/sshd/start", "/rpc/v1/sshd/stop"}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(path) + " " + row.auth);
      EXPECT_EQ(call(path, "{" + row.auth + (row.auth.empty() ? "" : ",") + input + "}"),
                row.reply);
    }
  }
  EXPECT_EQ(systemctl.calls(), std::vector<std::string>{});
  EXPECT_EQ(readFile(configPath), original);
  EXPECT_EQ(login("quilm").status, 200);
}

TEST_F(ManagementApi, TokensServeBothMountsUntilTheServerRestarts) {
  const Reply config{200, R"({"output":)" + toCompact(*parseJson(readFile(kSample))) + "}"};
  EXPECT_EQ(config.body.rfind(R"({"output":{"SX130x_conf":{"com_type":"SPI",)", 0), 0u);
  const std::string token = this->token();
  const std::string auth = R"({"auth":")" + token + "\"";
  EXPECT_EQ(call("/rpc/forwarder-config/get", auth + "}"), config);
  EXPECT_EQ(call("/rpc/v1/forwarder-config/get", auth + "}"), config);
  EXPECT_EQ(call("/rpc/v1", auth + R"(,"path":"forwarder-config/get"})"), config);
  // The name in the token is not looked up.
  const std::string stranger =
      context->tokenKeys.issue(*parseJson(R"({"username":"nobody"})"), context->clock.now());
  EXPECT_EQ(call("/rpc/forwarder-config/get", R"({"auth":")" + stranger + "\"}"), config);

  startServer("packet-forwarder");
  EXPECT_EQ(call("/rpc/forwarder-config/get", auth + "}"),
            (Reply{403, error(23010, "Invalid auth token")}));
  EXPECT_EQ(guarded("/rpc/forwarder-config/get"), config);
}

TEST_F(ManagementApi, PasswordUpdate) {
  const std::string oldToken = token();
  const struct {
    const char* input;
    Reply reply;
  } refused[] = {
      {R"("input":{"currentPassword":"wrong","newPassword":"x"})",
       {400, error(24004, "Password mismatch")}},
      {R"("input":{"currentPassword":"quilm","newPassword":5})",
       {400, error(23001, "Field newPassword is not a string")}},
      {R"("input":{"currentPassword":true,"newPassword":"x"})",
       {400, error(23001, "Field currentPassword is not a string")}},
      {R"("input":{"currentPassword":"quilm","newPassword":123456789012345678901234567890})",
       {400, error(23001, "Field newPassword is not a string")}},
      {R"("x":1)", kUnspecified},
      {R"("input":{"currentPassword":5})", kUnspecified},
      {R"("input":"quilm")", kUnspecified},
  };
  ::testing::internal::CaptureStdout();
  for (const auto& row : refused)
    EXPECT_EQ(guarded("/rpc/password/update", row.input), row.reply);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("key not found: input\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("key not found: newPassword\n"), std::string::npos) << printed;
  EXPECT_EQ(login("quilm").status, 200);

  const std::string changer = token();
  EXPECT_EQ(call("/rpc/password/update",
                 R"({"auth":")" + changer +
                     R"(","input":{"currentPassword":"quilm","newPassword":"changed"}})"),
            kDone);
  EXPECT_EQ(login("quilm"), (Reply{403, error(23009, "Invalid password")}));
  EXPECT_EQ(login("changed").status, 200);
  // The change ends every other session; the one that made it goes on.
  EXPECT_EQ(call("/rpc/sshd/stop", R"({"auth":")" + oldToken + "\"}"),
            (Reply{403, error(23010, "Invalid auth token")}));
  EXPECT_EQ(call("/rpc/sshd/stop", R"({"auth":")" + changer + "\"}"), kDone);
}

TEST_F(ManagementApi, ConfigPatchWritesThenRestartsTheForwarder) {
  const std::string patch = R"("input":{"gateway_conf":{"serv_port_up":1700}})";
  const auto port = [this] {
    return parseJson(readFile(configPath))->at("gateway_conf")->at("serv_port_up")->getInt();
  };
  EXPECT_EQ(guarded("/rpc/forwarder-config/patch", patch), kDone);
  EXPECT_EQ(port(), 1700);
  EXPECT_EQ(readFile(configPath).substr(0, 20), "{\n  \"SX130x_conf\": {");
  EXPECT_EQ(systemctl.calls(), std::vector<std::string>{"systemctl [restart] [packet-forwarder]"});

  // A failing restart is reported, but the new file stays.
  systemctl.reset();
  systemctl.answer("restart", "kill");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(guarded("/rpc/v1/forwarder-config/patch",
                    R"("input":{"gateway_conf":{"serv_port_up":1701}})"),
            kUnspecified);
  EXPECT_EQ(port(), 1701);
  systemctl.reset();

  // Failures before the write: the file as it was, and no restart.
  const std::string written = readFile(configPath);
  EXPECT_EQ(guarded("/rpc/forwarder-config/patch"), kUnspecified);
  EXPECT_EQ(readFile(configPath), written);
  std::ofstream(configPath) << "{\"gateway_conf\": ";
  EXPECT_EQ(guarded("/rpc/forwarder-config/patch", patch), kUnspecified);
  EXPECT_EQ(guarded("/rpc/forwarder-config/get"), kUnspecified);
  EXPECT_EQ(readFile(configPath), "{\"gateway_conf\": ");
  std::filesystem::remove(configPath);
  EXPECT_EQ(guarded("/rpc/forwarder-config/patch", patch), kUnspecified);
  EXPECT_FALSE(std::filesystem::exists(configPath));
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("Non-zero exit code\nkey not found: input\n"), std::string::npos);
  EXPECT_NE(printed.find("No such file or directory\n"), std::string::npos) << printed;
  EXPECT_EQ(systemctl.calls(), std::vector<std::string>{});

  // Without a unit name nothing is restarted; a patch that is no object replaces the document.
  std::ofstream(configPath) << "{}";
  startServer("");
  EXPECT_EQ(guarded("/rpc/forwarder-config/patch", R"("input":[1,{"a":null}])"), kDone);
  EXPECT_EQ(readFile(configPath), "[\n  1,\n  {\n    \"a\": null\n  }\n]");
  EXPECT_EQ(systemctl.calls(), std::vector<std::string>{});
}

}  // namespace
}  // namespace relaydash
