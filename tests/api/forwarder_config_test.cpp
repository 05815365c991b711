// The configuration's safe changes and history through the whole application: apply, restore,
// upload, progress, text, history and version, and what forwarder-config/patch keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "gateway/config_history.hpp"
#include "gateway/time_text.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::LoopbackClient;
using testing::Reply;
using namespace std::chrono_literals;

const std::string kMarker = "DEADBEEFDEADBEEF";

std::string quoted(const std::string& text) {
  return toCompact(*newJString(text));
}

class ConfigApi : public testing::ManagementApi {
 protected:
  const std::string original = readFile(testing::kSample);

  void SetUp() override {
    ManagementApi::SetUp();
    systemctl.crashWhenConfigHolds("packet-forwarder", configPath, kMarker);
  }

  Reply withInput(const std::string& procedure, const std::string& input) {
    return guarded("/rpc/forwarder-config/" + procedure, R"("input":)" + input);
  }
  // The same within one sign-in.
  Reply withInput(const std::string& token, const std::string& procedure,
                  const std::string& input) {
    return call("/rpc/forwarder-config/" + procedure,
                R"({"auth":")" + token + R"(","input":)" + input + "}");
  }

  JsonNodePtr output(const Reply& reply) {
    EXPECT_EQ(reply.status, 200) << reply.body;
    const JsonNodePtr body = parseJson(reply.body);
    return body->get("output") ? body->get("output") : newJObject();
  }

  JsonNodePtr errorOf(const Reply& reply) {
    const JsonNodePtr body = parseJson(reply.body);
    EXPECT_TRUE(body->hasKey("error")) << reply.body;
    return body->get("error") ? body->get("error") : newJObject();
  }

  // The trail's rows of these actions, newest first: "action outcome version".
  std::vector<std::string> auditRows(const std::vector<std::string>& actions) {
    const JsonNodePtr trail = output(guarded("/rpc/audit/list", R"("input":{})"));
    std::vector<std::string> rows;
    for (const JsonNodePtr& row : trail->at("entries")->array()) {
      const std::string& action = row->at("action")->getString();
      if (std::find(actions.begin(), actions.end(), action) == actions.end()) continue;
      rows.push_back(action + " " + row->at("outcome")->getString() + " " +
                     std::to_string(row->at("version")->getInt()));
    }
    return rows;
  }

  std::vector<std::string> versionProcedures() {
    std::vector<std::string> out;
    const JsonNodePtr history = output(withInput("history", "{}"));
    for (const JsonNodePtr& v : history->at("versions")->array())
      out.push_back(v->at("procedure")->getString());
    return out;
  }
};

TEST_F(ConfigApi, AGoodApplyStaysAndABadOneIsRolledBackWithTheForwardersWords) {
  EXPECT_EQ(
      withInput("apply", R"({"patch":{"gateway_conf":{"server_address":"eu1.example.net"}},)"
                         R"("settleSeconds":1})"),
      (Reply{200,
             R"({"output":{"version":1,"applied":true,"keptLayout":true,"restarted":true,)"
             R"("link":"no statistics report of the forwarder from before the change was found, )"
             R"(so there was no link to compare with"}})"}));
  std::string expected = original;
  expected.replace(expected.find("\"localhost\""), 11, "\"eu1.example.net\"");
  EXPECT_EQ(readFile(configPath), expected);

  const Reply bad = withInput("apply", R"({"patch":{"gateway_conf":{"gateway_ID":")" + kMarker +
                                           R"("}},"settleSeconds":2})");
  EXPECT_EQ(bad.status, 422);
  const JsonNodePtr e = errorOf(bad);
  EXPECT_EQ(e->at("code")->getInt(), 23000);
  EXPECT_EQ(
      e->at("message")->getString().rfind("The change was rolled back: the forwarder stopped", 0),
      0u)
      << bad.body;
  EXPECT_EQ(e->at("result")->getString(), "rolled-back");
  EXPECT_EQ(e->at("version")->getInt(), 2);
  EXPECT_EQ(e->at("rejectedVersion")->getInt(), 3);
  const JsonNodePtr journal = e->at("journal");
  ASSERT_GE(journal->size(), 1u);
  EXPECT_NE(journal->array().back()->at("message")->getString().find(kMarker), std::string::npos);
  EXPECT_EQ(readFile(configPath), expected);

  const JsonNodePtr progress = output(withInput("progress", "{}"));
  EXPECT_FALSE(progress->at("running")->getBool(true));
  EXPECT_EQ(progress->at("step")->getString(), "finished");
  EXPECT_EQ(progress->at("outcome")->at("result")->getString(), "rolled-back");
  EXPECT_EQ(versionProcedures(),
            (std::vector<std::string>{"forwarder-config/apply (rolled back)",
                                      "forwarder-config/apply", "forwarder-config/apply"}));

  // The trail says what became of each change, and which version it kept or put back.
  const JsonNodePtr trail = output(guarded("/rpc/audit/list", R"("input":{})"));
  std::vector<std::string> rows;
  for (const JsonNodePtr& row : trail->at("entries")->array()) {
    if (row->at("action")->getString() == "sign-in") continue;
    rows.push_back(row->at("action")->getString() + " " + row->at("outcome")->getString() + " " +
                   std::to_string(row->at("version")->getInt()));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"config-rollback success 2", "config-apply failure 2",
                                            "config-apply success 1"}));
}

TEST_F(ConfigApi, HealthAndProgressAnswerWhileAnApplyWatchesAndASecondIsRefused) {
  EXPECT_EQ(withInput("progress", "{}"),
            (Reply{200, R"({"output":{"id":0,"running":false,"procedure":null,"user":null,)"
                        R"("peer":null,"step":null,"version":null,"settleSeconds":null,)"
                        R"("secondsLeft":null,"reason":null,"outcome":null,"waitingFor":null}})"}));
  Reply applied;
  std::thread apply([&] {
    applied =
        withInput("apply", R"({"patch":{"gateway_conf":{"stat_interval":60}},"settleSeconds":3})");
  });
  JsonNodePtr progress;
  for (int i = 0; i < 200; ++i) {
    progress = output(withInput("progress", "{}"));
    if (progress->at("step")->getString() == "watching") break;
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(progress->at("running")->getBool());
  EXPECT_EQ(progress->at("step")->getString(), "watching");
  EXPECT_EQ(progress->at("user")->getString(), "admin");
  EXPECT_EQ(progress->at("peer")->getString(), "127.0.0.1");
  EXPECT_EQ(progress->at("version")->getInt(), 1);
  EXPECT_GE(progress->at("secondsLeft")->getInt(), 2);
  // Its row in the audit trail is written before the file, and says so until it ends.
  // The newest config-apply row, or the one with that id.
  const auto applyRow = [this](std::int64_t id = 0) {
    const JsonNodePtr rows = output(guarded("/rpc/audit/list"))->at("entries");
    for (const JsonNodePtr& row : rows->array()) {
      if (row->at("action")->getString() == "config-apply" &&
          (id == 0 || row->at("id")->getInt() == id))
        return row;
    }
    return newJObject();
  };
  const JsonNodePtr pending = applyRow();
  ASSERT_TRUE(pending->hasKey("id"));
  EXPECT_EQ(pending->at("outcome")->getString(), "pending");
  EXPECT_EQ(pending->at("version")->getInt(), 1);

  LoopbackClient health(thread->port());
  health.send("GET /health HTTP/1.1\r\n\r\n");
  EXPECT_NE(health.readAnswer().find(R"({"kit":"1.4.2"})"), std::string::npos);
  const Reply second = withInput("apply", R"({"patch":{"gateway_conf":{"stat_interval":90}}})");
  EXPECT_EQ(second.status, 409);
  EXPECT_EQ(errorOf(second)->at("code")->getInt(), 28003);
  EXPECT_TRUE(output(withInput("progress", "{}"))->at("running")->getBool());

  apply.join();
  EXPECT_EQ(applied.status, 200) << applied.body;
  EXPECT_NE(readFile(configPath).find("\"stat_interval\": 60"), std::string::npos);
  const JsonNodePtr done = applyRow(pending->at("id")->getInt());
  ASSERT_TRUE(done->hasKey("outcome"));
  EXPECT_EQ(done->at("outcome")->getString(), "success");
}

TEST_F(ConfigApi, RefusedRequestsSayWhy) {
  const struct {
    std::string procedure;
    std::string input;
    Reply reply;
  } rows[] = {
      {"apply",
       R"({"patch":{"gateway_conf":{"serv_port_up":0}}})",
       {400,
        R"({"error":{"code":23000,"message":"The configuration was not changed: gateway_conf.)"
        R"(serv_port_up must be a whole number from 1 to 65535","problems":[{"path":)"
        R"("gateway_conf.serv_port_up","message":"must be a whole number from 1 to 65535"}]}})"}},
      {"apply", R"({"settleSeconds":5})", {400, error(21031, "Missing field patch")}},
      {"apply",
       R"({"patch":{},"settleSeconds":121})",
       {400, error(23007, "Field settleSeconds must be a whole number from 0 to 120")}},
      {"apply", R"({"patch":{},"wait":1})", {400, error(22007, "Unknown field wait")}},
      {"apply",
       R"({"patch":{},"watch":"nothing"})",
       {400, error(23001, R"(Field watch must be \"link\" or \"process\")")}},
      {"restore",
       R"({"version":1,"watch":true})",
       {400, error(23001, R"(Field watch must be \"link\" or \"process\")")}},
      {"apply", "[]", {400, error(23001, "Field input is not an object")}},
      {"restore", "{}", {400, error(21031, "Missing field version, text or upload")}},
      {"restore",
       R"({"version":1,"text":"{}"})",
       {400, error(23000, "Give only one of version, text and upload")}},
      {"restore", R"({"version":7})", {404, error(22002, "Unknown ID")}},
      {"restore",
       R"({"version":"7"})",
       {400, error(23001, "Field version is not a version number")}},
      {"restore", R"({"upload":"99"})", {404, error(22002, "Unknown ID")}},
      {"version", R"({"version":1})", {404, error(22002, "Unknown ID")}},
      {"upload", R"({"upload":"99","offset":0,"text":"{"})", {404, error(22002, "Unknown ID")}},
      {"upload",
       R"({"offset":-1,"text":"{"})",
       {400, error(23001, "Field offset is not a byte offset")}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.procedure + " " + row.input);
    EXPECT_EQ(withInput(row.procedure, row.input), row.reply);
  }
  EXPECT_EQ(readFile(configPath), original);
  EXPECT_TRUE(systemctl.calls("systemctl").empty());
}

TEST_F(ConfigApi, PatchesKeepVersionsAndFiftyOneWritesKeepFifty) {
  for (int i = 1; i <= 51; ++i) {
    ASSERT_EQ(guarded("/rpc/forwarder-config/patch",
                      R"("input":{"gateway_conf":{"stat_interval":)" + std::to_string(i) + "}}"),
              testing::kDone);
  }
  const JsonNodePtr history = output(withInput("history", "{}"));
  EXPECT_EQ(history->at("kept")->getInt(), 50);
  const JsonNode& versions = *history->at("versions");
  ASSERT_EQ(versions.size(), 50u);
  EXPECT_EQ(versions.array().front()->at("version")->getInt(), 51);
  EXPECT_EQ(versions.array().back()->at("version")->getInt(), 2);
  const JsonNodePtr newest = versions.array().front();
  EXPECT_EQ(newest->at("user")->getString(), "admin");
  EXPECT_EQ(newest->at("peer")->getString(), "127.0.0.1");
  EXPECT_EQ(newest->at("procedure")->getString(), "forwarder-config/patch");
  EXPECT_EQ(withInput("version", R"({"version":1})"), (Reply{404, error(22002, "Unknown ID")}));
  // Version 2 is the file as the first patch wrote it: the pretty form, without comments.
  EXPECT_EQ(output(withInput("version", R"({"version":2})"))->at("text")->getString().find("/*"),
            std::string::npos);
}

TEST_F(ConfigApi, RestoringTheCommentedOriginalBringsItBackByteForByte) {
  ASSERT_EQ(
      guarded("/rpc/forwarder-config/patch", R"("input":{"gateway_conf":{"stat_interval":5}})"),
      testing::kDone);
  ASSERT_EQ(readFile(configPath).find("/*"), std::string::npos);
  const JsonNodePtr version = output(withInput("version", R"({"version":1})"));
  EXPECT_EQ(version->at("text")->getString(), original);
  EXPECT_EQ(version->at("size")->getInt(), static_cast<std::int64_t>(original.size()));
  EXPECT_EQ(
      output(withInput("restore", R"({"version":1,"settleSeconds":1})"))->at("version")->getInt(),
      2);
  EXPECT_EQ(readFile(configPath), original);
  EXPECT_EQ(versionProcedures(),
            (std::vector<std::string>{"forwarder-config/restore", "forwarder-config/patch"}));
}

// Each version says what it is and how it ended; the history says which one is on the gateway and
// which one last ran well; the trail names the version a restore put back, and an edited file as
// such.
TEST_F(ConfigApi, TheHistorySaysWhatEachVersionIsAndTheTrailWhatWasRestored) {
  {
    ConfigHistory history(dir.file("history"));
    VersionFacts before;
    before.ranSince = daysFromCivil(2020, 1, 1) * 86'400'000'000;
    before.ranWell = true;
    history.save(original, {"admin", "10.0.0.1", "forwarder-config/apply"}, before);
    VersionFacts rejected;
    rejected.kind = "rejected";
    rejected.reason = "the forwarder stopped";
    rejected.changed = {"gateway_conf.server_address"};
    history.save("{}", {"admin", "10.0.0.1", "forwarder-config/apply (rolled back)"}, rejected);
  }
  JsonNodePtr history = output(withInput("history", "{}"));
  EXPECT_EQ(history->at("current")->getInt(), 1);
  EXPECT_EQ(history->at("lastGood")->getInt(), 1);
  const std::string rejectedJson =
      R"("size":2,"kind":"rejected","reason":"the forwarder stopped",)"
      R"("changed":["gateway_conf.server_address"],"ranSince":null,"ranSeconds":null,)"
      R"("ranWell":null,"restores":null})";
  std::string json = toCompact(*history->at("versions")->array()[0]);
  EXPECT_EQ(json.substr(json.find(R"("size")")), rejectedJson);
  const JsonNodePtr first = history->at("versions")->array()[1];
  EXPECT_EQ(first->at("kind")->getString(), "before");
  EXPECT_TRUE(first->at("reason")->isNull());
  EXPECT_EQ(first->at("changed")->size(), 0u);
  EXPECT_EQ(first->at("ranSince")->getString(), "2020-01-01T00:00:00.000Z");
  EXPECT_GT(first->at("ranSeconds")->getInt(), 6 * 365 * 86400);
  EXPECT_TRUE(first->at("ranWell")->getBool());
  json = toCompact(*output(withInput("version", R"({"version":2})")));
  EXPECT_EQ(json.substr(json.find(R"("size")")),
            rejectedJson.substr(0, rejectedJson.size() - 1) + R"(,"text":"{}"})");

  // An edited file, then version 1 back.
  const std::string edited = R"({"gateway_conf":{},"SX130x_conf":{}})";
  ASSERT_EQ(withInput("restore", R"({"text":)" + quoted(edited) + R"(,"settleSeconds":0})").status,
            200);
  EXPECT_TRUE(output(withInput("history", "{}"))->at("current")->isNull());
  ASSERT_EQ(withInput("restore", R"({"version":1,"settleSeconds":0})").status, 200);
  EXPECT_EQ(readFile(configPath), original);
  history = output(withInput("history", "{}"));
  // Versions 1 and 3 both hold the original: the newest is the one in place.
  EXPECT_EQ(history->at("current")->getInt(), 3);
  const JsonNodePtr keptBeforeRestore = history->at("versions")->array()[0];
  EXPECT_EQ(keptBeforeRestore->at("version")->getInt(), 4);
  EXPECT_EQ(keptBeforeRestore->at("kind")->getString(), "before");
  EXPECT_EQ(keptBeforeRestore->at("restores")->getInt(), 1);
  EXPECT_TRUE(history->at("versions")->array()[1]->at("restores")->isNull());
  EXPECT_EQ(auditRows({"config-restore", "config-replace", "config-apply"}),
            (std::vector<std::string>{"config-restore success 1", "config-replace success 3"}));
}

// The pieces of an upload come within one sign-in; to any other its id is unknown.
TEST_F(ConfigApi, AFileTooLargeForOneRequestArrivesInPieces) {
  const std::string vendor =
      readFile("tests/data/forwarder/sx1301-eu868-kersing-mp_pkt_fwd-multiserver.global_conf.json");
  ASSERT_GT(vendor.size(), 7000u);
  // As a whole it does not fit a request.
  EXPECT_EQ(withInput("restore", R"({"text":)" + quoted(vendor) + "}").status, 413);
  const std::string mine = token();
  const std::string other = token();
  std::string id = "null";
  const auto piece = [&](const std::string& token, std::size_t offset) {
    return withInput(token, "upload",
                     R"({"upload":)" + id + R"(,"offset":)" + std::to_string(offset) +
                         R"(,"text":)" + quoted(vendor.substr(offset, 2000)) + "}");
  };
  for (std::size_t offset = 0; offset < vendor.size(); offset += 2000) {
    if (offset == 2000) {
      EXPECT_EQ(piece(other, offset).status, 404);
    }
    const JsonNodePtr answer = output(piece(mine, offset));
    id = quoted(answer->at("upload")->getString());
    EXPECT_EQ(answer->at("size")->getInt(),
              static_cast<std::int64_t>(std::min(offset + 2000, vendor.size())));
  }
  EXPECT_EQ(withInput(other, "restore", R"({"upload":)" + id + R"(,"settleSeconds":0})"),
            (Reply{404, error(22002, "Unknown ID")}));
  EXPECT_EQ(output(withInput(mine, "restore", R"({"upload":)" + id + R"(,"settleSeconds":0})"))
                ->at("applied")
                ->getBool(),
            true);
  EXPECT_EQ(readFile(configPath), vendor);
  // An upload is used once.
  EXPECT_EQ(withInput(mine, "restore", R"({"upload":)" + id + "}").status, 404);
}

TEST_F(ConfigApi, TheTextAsItIsAndWhereItDoesNotParse) {
  const JsonNodePtr text = output(withInput("text", "{}"));
  EXPECT_EQ(text->at("text")->getString(), original);
  EXPECT_TRUE(text->at("parses")->getBool());
  EXPECT_TRUE(text->at("error")->isNull());

  std::ofstream(configPath, std::ios::binary) << "{\n  \"gateway_conf\": {\n    \"a\": 1,,\n}";
  EXPECT_EQ(
      withInput("text", "{}"),
      (Reply{200, R"({"output":{"size":36,"parses":false,"error":{"message":"input(3, 11) )"
                  R"(Error: string literal as key expected","line":3,"column":11},"text":)"
                  R"("{\n  \"gateway_conf\": {\n    \"a\": 1,,\n}","hash":"780348a3d8b3dde7-24",)"
                  R"("forwarder":{"reads":false,"refusal":{"line":3,"column":12,"message":)"
                  R"("a member name in quotes was expected here"},"ignoredTail":null,)"
                  R"("quirks":[],"misread":[]},"sideFiles":{"readInstead":null,)"
                  R"("overrides":[],"notes":[]}}})"}));
  // It cannot be patched, but it can be replaced.
  EXPECT_EQ(withInput("apply", R"({"patch":{"a":1}})").status, 409);
  EXPECT_EQ(withInput("restore",
                      R"({"text":"{\"gateway_conf\":{},\"SX130x_conf\":{}}","settleSeconds":0})")
                .status,
            200);
  EXPECT_EQ(readFile(configPath), R"({"gateway_conf":{},"SX130x_conf":{}})");
}

TEST_F(ConfigApi, APatchWhoseVersionCannotBeKeptAnswersAsBefore) {
  std::ofstream(dir.file("history")) << "a file where the folder should be";
  ::testing::internal::CaptureStdout();
  const Reply reply =
      guarded("/rpc/forwarder-config/patch", R"("input":{"gateway_conf":{"stat_interval":5}})");
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(reply, testing::kDone);
  EXPECT_EQ(printed,
            "the configuration could not be kept in the history before a patch: Not a directory\n");
  EXPECT_NE(readFile(configPath).find("\"stat_interval\": 5"), std::string::npos);
  // An apply needs its history: it changes nothing.
  const Reply apply = withInput("apply", R"({"patch":{"gateway_conf":{"stat_interval":6}}})");
  EXPECT_EQ(apply.status, 500);
  EXPECT_EQ(errorOf(apply)->at("message")->getString(),
            "The history could not be written (Not a directory), so nothing was changed");
}

}  // namespace
}  // namespace relaydash
