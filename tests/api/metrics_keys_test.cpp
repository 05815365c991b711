// metrics-keys/create, list and revoke through the whole application: the key given out once,
// never listed, its making and revoking in the audit trail under its name.
#include "api/metrics_keys/metrics_keys.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "api/context.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::kDone;
using testing::Reply;
using ManagementApi = testing::ManagementApi;

const std::regex kUtc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");

class MetricsKeysApi : public ManagementApi {
 protected:
  std::string auth;

  void SetUp() override {
    ManagementApi::SetUp();
    auth = token();
  }

  Reply keys(const std::string& procedure, const std::string& input) {
    return call("/rpc/v1/metrics-keys/" + procedure,
                R"({"auth":")" + auth + R"(","input":)" + input + "}");
  }

  JsonNodePtr output(const Reply& reply) {
    EXPECT_EQ(reply.status, 200) << reply.body;
    return parseJson(reply.body)->at("output");
  }

  // The trail's rows as "action outcome subject", newest first, sign-ins left out.
  std::vector<std::string> auditRows() {
    std::vector<std::string> rows;
    const JsonNodePtr list = output(call("/rpc/audit/list", R"({"auth":")" + auth + "\"}"));
    for (const JsonNodePtr& e : list->at("entries")->array()) {
      if (e->at("action")->getString() == "sign-in") {
        EXPECT_TRUE(e->at("subject")->isNull());
        continue;
      }
      EXPECT_EQ(e->at("user")->getString(), "admin");
      rows.push_back(e->at("action")->getString() + " " + e->at("outcome")->getString() + " " +
                     (e->at("subject")->isNull() ? "-" : e->at("subject")->getString()));
    }
    return rows;
  }
};

TEST_F(MetricsKeysApi, AKeyIsGivenOnceListedWithoutItAndRevokedAndBothAreAudited) {
  const JsonNodePtr made = output(keys("create", R"({"name":"  prometheus "})"));
  const std::int64_t id = made->at("id")->getInt();
  const std::string key = made->at("key")->getString();
  EXPECT_EQ(made->at("name")->getString(), "prometheus");
  EXPECT_TRUE(std::regex_match(key, std::regex("rdm_[A-Za-z0-9_-]{43}"))) << key;
  EXPECT_TRUE(std::regex_match(made->at("createdAt")->getString(), kUtc));
  output(keys("create", R"({"name":"grafana"})"));

  const Reply listed = keys("list", "null");
  EXPECT_EQ(listed.body.find(key.substr(4)), std::string::npos) << listed.body;
  const JsonNodePtr list = output(listed)->at("keys");
  ASSERT_EQ(list->size(), 2u);
  const JsonNodePtr first = list->array()[0];
  EXPECT_EQ(toCompact(*first),
            R"({"id":)" + std::to_string(id) + R"(,"name":"prometheus","createdAt":")" +
                made->at("createdAt")->getString() + R"(","revokedAt":null,"lastUsedAt":null})");

  // What /metrics will ask, on the server's thread alone: the server stopped meanwhile. The
  // first use is kept in the database, for the next start.
  thread.reset();
  EXPECT_TRUE(context->metricsKeys.accepts(key));
  startServer("packet-forwarder");
  auth = token();
  EXPECT_TRUE(std::regex_match(
      output(keys("list", "{}"))->at("keys")->array()[0]->at("lastUsedAt")->getString(), kUtc));

  EXPECT_EQ(keys("revoke", R"({"id":)" + std::to_string(id) + "}"), kDone);
  const JsonNodePtr revoked = output(keys("list", "{}"))->at("keys")->array()[0];
  EXPECT_TRUE(std::regex_match(revoked->at("revokedAt")->getString(), kUtc));
  EXPECT_EQ(revoked->at("name")->getString(), "prometheus");

  const Reply audit = call("/rpc/audit/list", R"({"auth":")" + auth + "\"}");
  EXPECT_EQ(audit.body.find(key.substr(4)), std::string::npos);
  EXPECT_EQ(auditRows(), (std::vector<std::string>{
                             "metrics-key-revoke success prometheus",
                             "metrics-key-create success grafana",
                             "metrics-key-create success prometheus",
                         }));
  thread.reset();
  EXPECT_FALSE(context->metricsKeys.accepts(key));
}

TEST_F(MetricsKeysApi, RefusalsAnswerWithTheirOwnCodesAndAttemptsAreAudited) {
  output(keys("create", R"({"name":"prometheus"})"));
  struct Case {
    std::string procedure;
    std::string input;
    Reply reply;
  };
  const std::string badName =
      error(23021, "A key's name is 1 to 64 bytes of text without control characters");
  const std::vector<Case> cases = {
      {"create", "{}", {400, error(21031, "Missing field name")}},
      {"create", R"({"name":5})", {400, error(23001, "Field name is not a string")}},
      {"create", R"({"name":"x","key":"mine"})", {400, error(22007, "Unknown field key")}},
      {"create", R"({"name":" \t"})", {400, badName}},
      {"create", R"({"name":")" + std::string(65, 'n') + "\"}", {400, badName}},
      {"create", R"({"name":"two\nlines"})", {400, badName}},
      {"create",
       R"({"name":"prometheus "})",
       {409, error(26002, "A key named prometheus is in use already")}},
      {"revoke", R"({"id":999})", {404, error(22011, "No metrics key in use has the id 999")}},
      {"revoke",
       R"({"id":0})",
       {400, error(23008, "Field id must be the id of a metrics key (a whole number from 1)")}},
      {"revoke",
       R"({"id":"1"})",
       {400, error(23008, "Field id must be the id of a metrics key (a whole number from 1)")}},
      {"revoke", "{}", {400, error(21031, "Missing field id")}},
      {"list", R"({"all":true})", {400, error(22007, "Unknown field all")}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(keys(c.procedure, c.input), c.reply) << c.procedure << " " << c.input;
  for (const std::string procedure : {"create", "list", "revoke"}) {
    EXPECT_EQ(call("/rpc/metrics-keys/" + procedure, R"({"input":{"name":"x","id":1}})"),
              (Reply{400, error(21031, "Missing field auth")}));
  }

  // Once the input is read, a refused change is recorded with the name it was asked for.
  EXPECT_EQ(auditRows(), (std::vector<std::string>{
                             "metrics-key-revoke failure -",
                             "metrics-key-create failure prometheus ",
                             "metrics-key-create failure two\nlines",
                             "metrics-key-create failure " + std::string(64, 'n') + "\u2026",
                             "metrics-key-create failure  \t",
                             "metrics-key-create success prometheus",
                         }));
}

TEST_F(MetricsKeysApi, AtMostSoManyKeysAreInUse) {
  for (int i = 1; i < 32; ++i) {
    // Appended rather than "literal" + string: g++ 12 at -O3 for armhf takes the latter for an
    // overlapping copy (-Wrestrict).
    std::string input = R"({"name":"key )";
    input += std::to_string(i);
    input += "\"}";
    output(keys("create", input));
  }
  const JsonNodePtr last = output(keys("create", R"({"name":"key 32"})"));
  EXPECT_EQ(
      keys("create", R"({"name":"key 33"})"),
      (Reply{409, error(25004, "32 keys are in use already: revoke one before making another")}));
  EXPECT_EQ(keys("revoke", R"({"id":)" + std::to_string(last->at("id")->getInt()) + "}"), kDone);
  output(keys("create", R"({"name":"key 33"})"));
  EXPECT_EQ(output(keys("list", "{}"))->at("keys")->size(), 33u);
}

}  // namespace
}  // namespace relaydash
