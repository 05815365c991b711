// The audit trail through the whole application: a row for every action that changes something
// or signs in, and audit/list.
#include "api/audit/audit.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "json/parser.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::Reply;
using ManagementApi = testing::ManagementApi;

// The trail's entries as "action user outcome", newest first.
std::vector<std::string> summary(const JsonNode& entries) {
  std::vector<std::string> lines;
  for (const JsonNodePtr& e : entries.array()) {
    lines.push_back(e->at("action")->getString() + " " + e->at("user")->getString() + " " +
                    e->at("outcome")->getString());
  }
  return lines;
}

TEST_F(ManagementApi, EverySignInAndEveryChangeLeavesOneRow) {
  login("nope");
  call("/rpc/v1/login/password", R"({"username":"root","password":"quilm"})");
  const std::string auth = R"({"auth":")" + token() + "\"";
  const auto with = [&auth](const std::string& members) { return auth + "," + members + "}"; };
  call("/rpc/password/update", with(R"("input":{"currentPassword":"no","newPassword":"x"})"));
  EXPECT_EQ(call("/rpc/password/update",
                 with(R"("input":{"currentPassword":"quilm","newPassword":"s3cret-relay"})"))
                .status,
            200);
  call("/rpc/sshd/start", auth + "}");
  systemctl.answer("stop", "1");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(call("/rpc/sshd/stop", auth + "}").status, 500);
  ::testing::internal::GetCapturedStdout();
  call("/rpc/forwarder-config/patch", with(R"("input":{"gateway_conf":{"serv_port_up":1700}})"));
  // Reading changes nothing and leaves no row.
  call("/rpc/forwarder-config/get", auth + "}");
  call("/rpc/audit/list", auth + "}");

  const Reply reply = call("/rpc/audit/list", auth + "}");
  ASSERT_EQ(reply.status, 200) << reply.body;
  const JsonNodePtr output = parseJson(reply.body)->at("output");
  const JsonNode& entries = *output->at("entries");
  EXPECT_EQ(summary(entries), (std::vector<std::string>{
                                  "config-patch admin success",
                                  "ssh-stop admin failure",
                                  "ssh-start admin success",
                                  "password-change admin success",
                                  "password-change admin failure",
                                  "sign-in admin success",
                                  "sign-in root failure",
                                  "sign-in admin failure",
                              }));
  EXPECT_FALSE(output->at("more")->getBool(true));
  const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
  std::int64_t id = 9;
  for (const JsonNodePtr& e : entries.array()) {
    EXPECT_EQ(e->at("id")->getInt(), --id);
    EXPECT_TRUE(std::regex_match(e->at("time")->getString(), utc)) << e->at("time")->getString();
    EXPECT_EQ(e->at("peer")->getString(), "127.0.0.1");
    // The patch kept the file as it was in the history, as version 1.
    if (e->at("action")->getString() == "config-patch") {
      EXPECT_EQ(e->at("version")->getInt(), 1);
    } else {
      EXPECT_TRUE(e->at("version")->isNull());
    }
  }
}

// A row no request asked for (the server finishing a change at start-up) carries the user and
// peer it was given, not a session's.
TEST_F(ManagementApi, TheServersOwnActionsAreRecordedAsItsOwn) {
  login("quilm");
  thread.reset();  // no longer served: the context is this thread's alone
  recordAuditAs(*context, "relaydash", "", kAuditConfigRecover, AuditOutcome::Success, 7);
  startServer("packet-forwarder");
  const Reply reply = call("/rpc/audit/list", R"({"auth":")" + token() + "\"}");
  ASSERT_EQ(reply.status, 200) << reply.body;
  const JsonNodePtr body = parseJson(reply.body);
  const JsonNode& entries = *body->at("output")->at("entries");
  ASSERT_EQ(entries.size(), 3u);
  const JsonNodePtr own = entries.array()[1];
  EXPECT_EQ(own->at("action")->getString(), "config-recover");
  EXPECT_EQ(own->at("user")->getString(), "relaydash");
  EXPECT_EQ(own->at("peer")->getString(), "");
  EXPECT_EQ(own->at("outcome")->getString(), "success");
  EXPECT_EQ(own->at("version")->getInt(), 7);
  EXPECT_EQ(entries.array()[2]->at("peer")->getString(), "127.0.0.1");
}

TEST_F(ManagementApi, RepeatedFailuresAreOneRowThatCountsThemAndLongNamesAreCut) {
  context->signIns.setHold(std::chrono::milliseconds(1));
  const std::string longName(300, 'n');
  for (int i = 0; i < 7; ++i)
    login("guess");
  call("/rpc/v1/login/password", R"({"username":")" + longName + R"(","password":"quilm"})");
  call("/rpc/v1/login/password", R"({"username":")" + longName + R"(x","password":"quilm"})");
  const Reply reply = call("/rpc/audit/list", R"({"auth":")" + token() + "\"}");
  ASSERT_EQ(reply.status, 200) << reply.body;
  // Failures of one peer and user within ten minutes of the clock are one row: two when the
  // clock happened to pass a tenth minute meanwhile.
  std::map<std::string, std::pair<int, std::int64_t>> failures;  // user: rows, attempts
  const JsonNodePtr body = parseJson(reply.body);
  for (const JsonNodePtr& e : body->at("output")->at("entries")->array()) {
    if (e->at("outcome")->getString() != "failure") continue;
    EXPECT_LE(e->at("time")->getString(), e->at("lastTime")->getString());
    auto& [rows, attempts] = failures[e->at("user")->getString()];
    ++rows;
    attempts += e->at("count")->getInt();
  }
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_LE(failures["admin"].first, 2);
  EXPECT_EQ(failures["admin"].second, 7);
  const auto& [cutRows, cutAttempts] = failures[std::string(64, 'n') + "\u2026"];
  EXPECT_LE(cutRows, 2);
  EXPECT_EQ(cutAttempts, 2);
}

TEST_F(ManagementApi, AuditListPagesBackwardsAndRefusesBadRequests) {
  for (int i = 0; i < 7; ++i)
    login("quilm");
  const std::string auth = R"({"auth":")" + token() + "\"";
  const auto page = [&](const std::string& input) {
    const Reply reply = call("/rpc/v1/audit/list", auth + R"(,"input":)" + input + "}");
    EXPECT_EQ(reply.status, 200) << input << " " << reply.body;
    const JsonNodePtr output = parseJson(reply.body)->at("output");
    std::string ids;
    for (const JsonNodePtr& e : output->at("entries")->array())
      ids += std::to_string(e->at("id")->getInt()) + " ";
    return ids + (output->at("more")->getBool() ? "more" : "end");
  };
  EXPECT_EQ(page(R"({"limit":3})"), "8 7 6 more");
  EXPECT_EQ(page(R"({"limit":3,"before":6})"), "5 4 3 more");
  EXPECT_EQ(page(R"({"limit":3,"before":3})"), "2 1 end");
  EXPECT_EQ(page(R"({"before":1})"), "end");
  EXPECT_EQ(page(R"({"before":null})"), "8 7 6 5 4 3 2 1 end");
  EXPECT_EQ(page("{}"), "8 7 6 5 4 3 2 1 end");

  const Reply badLimit{400, error(23007, "Field limit must be a whole number from 1 to 500")};
  const Reply badBefore{
      400, error(23008, "Field before must be the id of an audit entry (a whole number from 1)")};
  const struct {
    const char* input;
    Reply reply;
  } refused[] = {
      {R"({"limit":0})", badLimit},
      {R"({"limit":501})", badLimit},
      {R"({"limit":"3"})", badLimit},
      {R"({"limit":2.5})", badLimit},
      {R"({"before":0})", badBefore},
      {R"({"before":"6"})", badBefore},
      {R"({"since":"2026-12-09"})", {400, error(22007, "Unknown field since")}},
      {"[3]", {400, error(23001, "Field input is not an object")}},
  };
  for (const auto& row : refused) {
    EXPECT_EQ(call("/rpc/audit/list", auth + R"(,"input":)" + row.input + "}"), row.reply)
        << row.input;
  }
  EXPECT_EQ(call("/rpc/audit/list", "{}"), (Reply{400, error(21031, "Missing field auth")}));
}

}  // namespace
}  // namespace relaydash
