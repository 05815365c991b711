// gateway/status and gateway/logs through the whole application, and the server going on
// serving while the gateway's tools run.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gateway/time_text.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/fake_journal.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::FakeJournal;
using testing::LoopbackClient;
using testing::Reply;
using testing::statisticsReport;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* const kFailedForwarder =
    "LoadState=loaded\nActiveState=failed\nSubState=failed\nResult=exit-code\n"
    "UnitFileState=enabled\nActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC\n"
    "StateChangeTimestamp=Tue 2026-12-08 10:15:00 UTC\nNRestarts=5\nMainPID=0\n";

std::vector<std::string> keys(const JsonNode& object) {
  std::vector<std::string> names;
  for (const auto& member : object.object())
    names.push_back(member.key);
  return names;
}

// Our children that have ended and not been reaped.
int zombies() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    if (!std::getline(stat, text)) continue;
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    std::istringstream(text.substr(close + 2)) >> state >> parent;
    if (parent == ::getpid() && state == 'Z') ++count;
  }
  return count;
}

int openDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Sets an environment variable for a test's lifetime; the server reads it when it starts.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
  ~ScopedVariable() { ::unsetenv(name_); }

 private:
  const char* name_;
};

// Waits until the condition holds, at most ten seconds.
template <typename F>
bool eventually(F condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

class GatewayApi : public testing::ManagementApi {
 protected:
  FakeJournal forwarderJournal{"packet-forwarder"};
  // Entries that reached the journal ten minutes ago, inside the hour the status reads; the
  // reports in them keep the dates their own lines give.
  FakeJournal recentJournal{"packet-forwarder", nowMicros() - 600'000'000};

  JsonNodePtr output(const Reply& reply) {
    EXPECT_EQ(reply.status, 200) << reply.body;
    const JsonNodePtr body = parseJson(reply.body);
    return body->get("output") ? body->get("output") : newJObject();
  }

  // A request sent on its own connection, the answer read later.
  std::unique_ptr<LoopbackClient> send(const std::string& path, const std::string& members) {
    auto client = std::make_unique<LoopbackClient>(thread->port());
    const std::string body = R"({"auth":")" + token() + "\"," + members + "}";
    client->send("POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                 "\r\n\r\n" + body);
    return client;
  }

  // How long /health takes to answer on a connection of its own.
  Clock::duration healthTime() {
    const auto start = Clock::now();
    LoopbackClient client(thread->port());
    client.send("GET /health HTTP/1.1\r\n\r\n");
    const std::string answer = client.readAnswer();
    EXPECT_NE(answer.find(R"({"kit":"1.4.2"})"), std::string::npos) << answer;
    return Clock::now() - start;
  }
};

TEST_F(GatewayApi, StatusOfAFailedForwarderWhoseServerDoesNotAnswer) {
  systemctl.show("packet-forwarder", kFailedForwarder);
  systemctl.timedatectl("NTPSynchronized=no\n");
  // Two reports 30 s apart; the network server stopped answering in between.
  systemctl.journal("packet-forwarder",
                    recentJournal.lines(statisticsReport("2025-12-06 05:47:10", 12, "100.00"), 30));
  systemctl.journal(
      "packet-forwarder",
      recentJournal.lines(statisticsReport("2025-12-06 05:47:40", 3, "0.00", "0.00"), 30));
  // The newest is cut before its GPS block: the rest of it was still in the forwarder's buffer.
  std::vector<std::string> cut = statisticsReport("2025-12-06 05:48:10", 5, "0.00", "0.00");
  cut.resize(12);
  systemctl.journal("packet-forwarder", recentJournal.lines(cut, 30));

  const JsonNodePtr status = output(guarded("/rpc/gateway/status"));
  EXPECT_EQ(keys(*status),
            (std::vector<std::string>{"units", "gateway", "forwarderConfig", "linkHealth",
                                      "relaydash", "verdict", "interruptedChange", "errors"}));
  EXPECT_EQ(toCompact(*status->at("errors")), "{}");
  EXPECT_EQ(toCompact(*status->at("units")->at("forwarder")),
            R"({"unit":"packet-forwarder","loadState":"loaded","activeState":"failed",)"
            R"("subState":"failed","result":"exit-code","unitFileState":"enabled",)"
            R"("since":"2026-12-08T10:11:12Z","stateChangedAt":"2026-12-08T10:15:00Z",)"
            R"("restarts":5,"mainPid":null})");
  EXPECT_EQ(status->at("units")->at("ssh")->at("subState")->getString(), "running");

  const JsonNode& gateway = *status->at("gateway");
  EXPECT_EQ(keys(gateway),
            (std::vector<std::string>{"hostname", "os", "kernel", "uptimeSeconds", "load", "memory",
                                      "storage", "interfaces", "clockSynchronized"}));
  EXPECT_FALSE(gateway.at("clockSynchronized")->getBool(true));
  EXPECT_EQ(gateway.at("storage")->at("path")->getString(), dir.path().string());

  const std::string config = toCompact(*status->at("forwarderConfig"));
  EXPECT_EQ(config.substr(0, config.find(R"("modified")")),
            R"({"gatewayId":"AA555A0000000000","serverAddress":"localhost","serverPortUp":1730,)"
            R"("serverPortDown":1730,"layout":"SX130x_conf","plan":"EU868","sizeBytes":5841,)");
  EXPECT_TRUE(status->at("forwarderConfig")->at("hasComments")->getBool());
  EXPECT_TRUE(status->at("forwarderConfig")->at("error")->isNull());

  const JsonNode& link = *status->at("linkHealth");
  EXPECT_EQ(keys(link), (std::vector<std::string>{"latest", "series", "statIntervalSeconds",
                                                  "ageSeconds", "stale"}));
  const JsonNode& latest = *link.at("latest");
  EXPECT_EQ(latest.at("pushDataAckPercent")->getFloat(-1), 0.0);
  EXPECT_EQ(latest.at("rfReceived")->getInt(), 5);
  EXPECT_EQ(latest.at("time")->getString(), "2025-12-06T05:48:10Z");
  // The time reference and the position of the report before it.
  EXPECT_EQ(latest.at("timeReference")->getString(), "valid");
  EXPECT_EQ(latest.at("gps")->at("latitude")->getFloat(), 52.37403);
  ASSERT_EQ(link.at("series")->size(), 3u);
  EXPECT_EQ(toCompact(*link.at("series")->array()[0]),
            R"({"time":"2025-12-06T05:47:10Z","rfReceived":12,"rfForwarded":12,)"
            R"("pushDataSent":13,"pushDataAckPercent":100.0,"pullDataAckPercent":100.0,)"
            R"("pullDataSent":3})");
  EXPECT_EQ(link.at("statIntervalSeconds")->getInt(), 30);
  EXPECT_GT(link.at("ageSeconds")->getInt(), 365 * 24 * 3600);
  EXPECT_TRUE(link.at("stale")->getBool());

  // The forwarder's failure comes first; the clock is one of the checks.
  EXPECT_EQ(
      toCompact(*status->at("verdict")),
      R"({"level":"bad","text":"The forwarder stopped at 10:15 after failing )"
      R"((exit-code), 5 restarts before","since":"2026-12-08T10:15:00Z",)"
      R"("logsFrom":"2026-12-08T10:14:30Z","change":null,"checks":[)"
      R"({"name":"forwarder","level":"bad","text":"The forwarder stopped at 10:15 after )"
      R"(failing (exit-code), 5 restarts before"},)"
      R"({"name":"reports","level":"warning","text":"No report from the forwarder since )"
      R"(05:48 ()" +
          std::to_string(link.at("ageSeconds")->getInt() / 3600) + R"( h )" +
          std::to_string(link.at("ageSeconds")->getInt() % 3600 / 60) +
          R"( min ago): the forwarder writes one every 30 s"},)"
          R"({"name":"link","level":"bad","text":"The network server does not acknowledge )"
          R"(what the gateway sends (PUSH_DATA 0 %) in the report of 05:48"},)"
          R"({"name":"clock","level":"warning","text":"The system clock is not synchronized: )"
          R"(the times of reports and packets may be wrong"}]})");

  const JsonNode& self = *status->at("relaydash");
  EXPECT_EQ(self.at("version")->getString(), "1.1.1");
  EXPECT_TRUE(self.at("defaultPassword")->getBool());
  EXPECT_EQ(guarded("/rpc/password/update",
                    R"("input":{"currentPassword":"quilm","newPassword":"changed"})")
                .status,
            200);
  const std::string token = parseJson(login("changed").body)->at("output")->at("auth")->getString();
  const Reply after = call("/rpc/v1/gateway/status", R"({"auth":")" + token + "\"}");
  EXPECT_FALSE(output(after)->at("relaydash")->at("defaultPassword")->getBool(true));
}

TEST_F(GatewayApi, TheVerdictNamesTheChangeBeforeACrashLoop) {
  systemctl.show("packet-forwarder",
                 "LoadState=loaded\nActiveState=activating\nSubState=auto-restart\n"
                 "Result=exit-code\nUnitFileState=enabled\nNRestarts=54\nMainPID=0\n");
  systemctl.timedatectl("NTPSynchronized=yes\n");
  // Nothing in the history yet: no change to name.
  JsonNodePtr verdict = output(guarded("/rpc/gateway/status"))->at("verdict");
  EXPECT_EQ(verdict->at("level")->getString(), "bad");
  EXPECT_EQ(verdict->at("text")->getString(), "The forwarder keeps restarting (54 restarts)");
  EXPECT_TRUE(verdict->at("change")->isNull());

  // A patch keeps the file as version 1 and changes it.
  ASSERT_EQ(
      guarded("/rpc/forwarder-config/patch", R"("input":{"gateway_conf":{"stat_interval":20}})")
          .status,
      200);
  verdict = output(guarded("/rpc/gateway/status"))->at("verdict");
  ASSERT_FALSE(verdict->at("change")->isNull()) << toCompact(*verdict);
  EXPECT_EQ(verdict->at("change")->at("version")->getInt(), 1);
  EXPECT_EQ(verdict->at("change")->at("procedure")->getString(), "forwarder-config/patch");
  EXPECT_EQ(verdict->at("change")->at("user")->getString(), "admin");
  const std::string changed = verdict->at("change")->at("time")->getString();
  EXPECT_EQ(verdict->at("since")->getString(), changed.substr(0, 19) + "Z");
  const std::string text = verdict->at("text")->getString();
  EXPECT_EQ(text, "The forwarder has been restarting since " + changed.substr(11, 5) +
                      " (54 restarts) — the change at " + changed.substr(11, 5) +
                      " may be the cause: restore version 1");

  // Put back by hand, the file is that version again: restoring it would change nothing.
  std::ofstream(configPath, std::ios::binary | std::ios::trunc) << readFile(testing::kSample);
  verdict = output(guarded("/rpc/gateway/status"))->at("verdict");
  EXPECT_TRUE(verdict->at("change")->isNull()) << toCompact(*verdict);
}

TEST_F(GatewayApi, StatusWithoutAForwarderUnitAndWithToolsThatFail) {
  // Every call reads again, so that each answer shows the tools as they are set.
  const ScopedVariable fresh("RELAYDASH_STATUS_FRESH_MS", "0");
  startServer("");
  systemctl.answer("timedatectl", "1");
  JsonNodePtr status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("units")->at("forwarder")->isNull());
  EXPECT_EQ(status->at("units")->at("ssh")->at("unit")->getString(), "ssh");
  EXPECT_TRUE(status->at("linkHealth")->isNull());
  EXPECT_TRUE(status->at("gateway")->at("clockSynchronized")->isNull());
  EXPECT_EQ(status->at("verdict")->at("level")->getString(), "unknown");
  EXPECT_EQ(systemctl.calls("journalctl"), std::vector<std::string>{});
  EXPECT_EQ(systemctl.calls("systemctl").back().substr(0, 16), "systemctl [show]");
  EXPECT_NE(systemctl.calls("systemctl").back().find("[--] [ssh]"), std::string::npos);

  // A journal that cannot be read leaves the link unknown and says why; a systemctl that fails
  // leaves the units unknown. The other parts are answered all the same.
  startServer("packet-forwarder");
  systemctl.answer("journalctl", "1");
  status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("linkHealth")->isNull());
  EXPECT_EQ(toCompact(*status->at("verdict")->at("checks")->array()[1]),
            R"({"name":"reports","level":"unknown","text":"The forwarder's log cannot be read"})");
  // timedatectl still fails, as set above.
  EXPECT_EQ(toCompact(*status->at("errors")),
            R"({"clock":{"code":10001,"message":"timedatectl failed with status 1: Failed to )"
            R"(query server: simulated failure"},"linkHealth":{"code":10001,"message":)"
            R"("journalctl failed with status 1: Failed to open journal: simulated failure"}})");
  systemctl.answer("show", "3");
  status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("units")->isNull());
  EXPECT_EQ(status->at("forwarderConfig")->at("gatewayId")->getString(), "AA555A0000000000");
  EXPECT_FALSE(status->at("gateway")->at("hostname")->getString().empty());
  EXPECT_EQ(toCompact(*status->at("verdict")->at("checks")->array()[0]),
            R"({"name":"forwarder","level":"unknown",)"
            R"("text":"systemd cannot be asked whether the forwarder runs"})");
  EXPECT_EQ(toCompact(*status->at("errors")->at("units")),
            R"({"code":10001,"message":"systemctl failed with status 3: Failed to show unit: )"
            R"(simulated failure"})");
  // A systemctl that answers for no unit is as much a failure of that part alone.
  systemctl.answer("show", "0");
  systemctl.show("packet-forwarder", "");
  systemctl.show("ssh", "");
  status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("units")->isNull());
  EXPECT_NE(status->at("errors")->at("units")->at("message")->getString().find("instead of 2"),
            std::string::npos)
      << toCompact(*status->at("errors"));
}

// Viewers that ask at once share one read of each tool, and the answer is kept for the next
// viewers until it is a polling interval old; a unit relaydash stops itself is read again at once.
TEST_F(GatewayApi, ViewersShareEachReadAndAChangeMadeHereIsSeenAtOnce) {
  // Kept far longer than the test takes on a busy machine.
  const ScopedVariable fresh("RELAYDASH_STATUS_FRESH_MS", "600000");
  startServer("packet-forwarder");
  systemctl.journal("packet-forwarder",
                    recentJournal.lines(statisticsReport("2025-12-06 05:47:10", 12, "100.00"), 30));
  systemctl.gate("journalctl");
  std::vector<std::unique_ptr<LoopbackClient>> viewers;
  for (int i = 0; i < 5; ++i)
    viewers.push_back(send("/rpc/gateway/status", R"("input":{})"));
  ASSERT_TRUE(eventually([&] { return systemctl.calls("journalctl").size() == 1; }));
  systemctl.open("journalctl");
  for (const auto& viewer : viewers) {
    const std::string answer = viewer->readAnswer();
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
    EXPECT_NE(answer.find(R"("rfReceived":12)"), std::string::npos) << answer;
  }
  EXPECT_EQ(systemctl.calls("journalctl").size(), 1u);
  EXPECT_EQ(systemctl.calls("timedatectl").size(), 1u);
  const auto shows = [this] {
    std::size_t n = 0;
    for (const std::string& line : systemctl.calls("systemctl"))
      n += line.rfind("systemctl [show]", 0) == 0 ? 1 : 0;
    return n;
  };
  EXPECT_EQ(shows(), 1u);
  output(guarded("/rpc/gateway/status"));
  EXPECT_EQ(shows(), 1u);

  ASSERT_EQ(guarded("/rpc/sshd/stop", R"("input":{})").status, 200);
  output(guarded("/rpc/gateway/status"));
  EXPECT_EQ(shows(), 2u);
  EXPECT_EQ(systemctl.calls("timedatectl").size(), 1u);
}

TEST_F(GatewayApi, LogsOfTheTwoUnitsOnly) {
  FakeJournal ssh("ssh");
  systemctl.journal("packet-forwarder",
                    {forwarderJournal.text("concentrator started", 5),
                     forwarderJournal.bytes("bad byte \xFF here", 3),
                     forwarderJournal.text("INFO: [down] PULL_ACK received in 41 ms", 7)});
  systemctl.journal("ssh", {ssh.text("Server listening on 0.0.0.0 port 22.")});

  const JsonNodePtr all = output(guarded("/rpc/gateway/logs", R"("input":{})"));
  EXPECT_EQ(
      toCompact(*all),
      R"({"entries":[{"time":"2025-12-06T05:46:40.500Z","priority":5,"message":"concentrator started",)"
      R"("cursor":")" +
          forwarderJournal.cursor(1) +
          R"("},{"time":"2025-12-06T05:46:41.000Z","priority":3,"message":"bad byte )"
          "\xEF\xBF\xBD"
          R"( here","cursor":")" +
          forwarderJournal.cursor(2) +
          R"("},{"time":"2025-12-06T05:46:41.500Z","priority":7,)"
          R"("message":"INFO: [down] PULL_ACK received in 41 ms","cursor":")" +
          forwarderJournal.cursor(3) + R"("}],"cursor":")" + forwarderJournal.cursor(3) +
          R"(","more":false})");

  const JsonNodePtr last =
      output(guarded("/rpc/v1/gateway/logs", R"("input":{"unit":"forwarder","lines":1})"));
  EXPECT_EQ(last->at("entries")->size(), 1u);
  const JsonNodePtr after = output(
      guarded("/rpc/gateway/logs", R"("input":{"after":")" + forwarderJournal.cursor(1) + "\"}"));
  EXPECT_EQ(after->at("entries")->size(), 2u);
  const JsonNodePtr nothingNew = output(
      guarded("/rpc/gateway/logs", R"("input":{"after":")" + forwarderJournal.cursor(3) + "\"}"));
  EXPECT_EQ(toCompact(*nothingNew),
            R"({"entries":[],"cursor":")" + forwarderJournal.cursor(3) + R"(","more":false})");
  const JsonNodePtr sshLogs = output(guarded("/rpc/gateway/logs", R"("input":{"unit":"ssh"})"));
  EXPECT_EQ(sshLogs->at("entries")->array()[0]->at("message")->getString(),
            "Server listening on 0.0.0.0 port 22.");
  EXPECT_EQ(toCompact(*output(guarded("/rpc/gateway/logs"))).substr(0, 12), R"({"entries":[)");

  // Whatever the request said, journalctl only ever saw the two units' names.
  for (const std::string& call : systemctl.calls("journalctl")) {
    EXPECT_TRUE(call.find("[--unit=packet-forwarder]") != std::string::npos ||
                call.find("[--unit=ssh]") != std::string::npos)
        << call;
  }
}

// The messages of a gateway/logs answer, oldest first.
std::vector<std::string> messagesOf(const JsonNode& logs) {
  std::vector<std::string> out;
  for (const JsonNodePtr& entry : logs.at("entries")->array())
    out.push_back(entry->at("message")->getString());
  return out;
}

class GatewayLogs : public GatewayApi {
 protected:
  // Three statistics reports 30 s apart, the second while the network server did not answer,
  // with a warning and an error between them.
  void SetUp() override {
    GatewayApi::SetUp();
    const auto add = [&](const std::vector<std::string>& entries) {
      systemctl.journal("packet-forwarder", entries);
    };
    add({forwarderJournal.text("*** Packet Forwarder ***")});
    add(forwarderJournal.lines(statisticsReport("2025-12-06 05:47:10", 12, "100.00"), 30));
    add({forwarderJournal.text("WARNING: [up] PUSH_ACK was not received", 4, 10)});
    secondReport = forwarderJournal.lastTime() + 20'000'000;
    add(forwarderJournal.lines(statisticsReport("2025-12-06 05:47:40", 3, "0.00", "0.00"), 20));
    add({forwarderJournal.text("ERROR: [up] failed to send PUSH_DATA", 3, 5)});
    thirdReport = forwarderJournal.lastTime() + 25'000'000;
    add(forwarderJournal.lines(statisticsReport("2025-12-06 05:48:10", 9, "100.00"), 25));
  }

  JsonNodePtr logs(const std::string& input) {
    return output(guarded("/rpc/gateway/logs", R"("input":)" + input));
  }

  std::int64_t secondReport = 0, thirdReport = 0;  // their first lines' times
};

TEST_F(GatewayLogs, APhraseIsFoundWholeAndItsCapitalsAskForExactCase) {
  EXPECT_EQ(messagesOf(*logs(R"({"match":"acknowledged: 0.00"})")),
            std::vector<std::string>{"# PUSH_DATA acknowledged: 0.00%"});
  EXPECT_EQ(messagesOf(*logs(R"({"match":"ERROR"})")),
            std::vector<std::string>{"ERROR: [up] failed to send PUSH_DATA"});
  EXPECT_EQ(messagesOf(*logs(R"({"match":"error"})")),
            (std::vector<std::string>{"# TX errors: 0", "# TX errors: 0",
                                      "ERROR: [up] failed to send PUSH_DATA", "# TX errors: 0"}));
  // The newest matches, and whether older ones come before them.
  const JsonNodePtr two = logs(R"({"match":"TX errors","lines":2})");
  EXPECT_EQ(two->at("entries")->size(), 2u);
  EXPECT_TRUE(two->at("more")->getBool());
  EXPECT_FALSE(logs(R"({"match":"TX errors","lines":3})")->at("more")->getBool(true));
  // The cursor is the newest entry read, so that following goes on from there.
  EXPECT_EQ(two->at("cursor")->getString(), forwarderJournal.lastCursor());
  const JsonNodePtr none = logs(R"({"match":"no such words"})");
  EXPECT_EQ(toCompact(*none),
            R"({"entries":[],"cursor":")" + forwarderJournal.lastCursor() + R"(","more":false})");
  // 200 characters of two bytes each are a phrase still.
  std::string accents;
  for (int i = 0; i < 200; ++i)
    accents += "\xC3\xA9";
  EXPECT_TRUE(logs(R"({"match":")" + accents + "\"}")->at("entries")->array().empty());
  // journalctl only ever saw its own options: the phrase is looked for here.
  for (const std::string& call : systemctl.calls("journalctl"))
    EXPECT_EQ(call.find("TX"), std::string::npos) << call;
}

TEST_F(GatewayLogs, ATimeRangeAndAPriorityWithTheMoreThatComeBefore) {
  const std::string second = formatIsoUtc(secondReport, true);
  const std::string third = formatIsoUtc(thirdReport, true);
  // The second report: from its first line to the millisecond before the error.
  const JsonNodePtr range = logs(R"({"since":")" + second + R"(","until":")" +
                                 formatIsoUtc(thirdReport - 25'000'000 - 1000, true) + "\"}");
  const std::vector<std::string> report =
      statisticsReport("2025-12-06 05:47:40", 3, "0.00", "0.00");
  EXPECT_EQ(messagesOf(*range), report);
  EXPECT_FALSE(range->at("more")->getBool(true));
  EXPECT_NE(systemctl.calls("journalctl").back().find("[--since=2025-12-06 05:47:40.5"),
            std::string::npos)
      << systemctl.calls("journalctl").back();
  // Within the range, the newest lines; "more" counts only what the range holds.
  const JsonNodePtr last = logs(R"({"since":")" + second + R"(","lines":17})");
  EXPECT_EQ(messagesOf(*last).front(), "ERROR: [up] failed to send PUSH_DATA");
  EXPECT_TRUE(last->at("more")->getBool());
  EXPECT_FALSE(logs(R"({"since":")" + third + R"(","lines":16})")->at("more")->getBool(true));
  EXPECT_TRUE(logs(R"({"since":")" + third + R"(","lines":15})")->at("more")->getBool());
  EXPECT_FALSE(logs(R"({"since":")" + second + R"(","match":"TX errors","lines":2})")
                   ->at("more")
                   ->getBool(true));

  // Warnings and worse; errors and worse; as journalctl's --priority.
  EXPECT_EQ(messagesOf(*logs(R"({"priority":4})")),
            (std::vector<std::string>{"WARNING: [up] PUSH_ACK was not received",
                                      "ERROR: [up] failed to send PUSH_DATA"}));
  EXPECT_NE(systemctl.calls("journalctl").back().find("[--priority=4]"), std::string::npos);
  EXPECT_EQ(messagesOf(*logs(R"({"priority":3,"match":"PUSH"})")),
            std::vector<std::string>{"ERROR: [up] failed to send PUSH_DATA"});
  // Members given as null are left out.
  EXPECT_EQ(logs(R"({"since":null,"until":null,"priority":null,"match":null,"after":null})")
                ->at("entries")
                ->size(),
            51u);
}

TEST_F(GatewayLogs, LoadingOlderWithTheOldestTimeMissesAndRepeatsNothing) {
  // Entries within one millisecond: the page asks with the time it shows, to the millisecond,
  // for as many more lines as it holds of that millisecond.
  systemctl.journal("packet-forwarder",
                    {forwarderJournal.text("a", 6, 1), forwarderJournal.text("b", 6, 0.0002),
                     forwarderJournal.text("c", 6, 0.0002), forwarderJournal.text("d", 6, 0.0002)});
  const std::vector<std::string> everything = messagesOf(*logs(R"({"lines":2000})"));
  ASSERT_EQ(everything.size(), 55u);
  for (const int page : {1, 2, 3, 7}) {
    SCOPED_TRACE(page);
    std::vector<std::string> cursors, times, shown;
    for (int ask = 0; ask < 100; ++ask) {
      std::string input = R"({"lines":)";
      if (times.empty()) {
        input += std::to_string(page);
      } else {
        const auto held = std::count(times.begin(), times.end(), times.front());
        input += std::to_string(page + held) + R"(,"until":")" + times.front() + "\"";
      }
      const JsonNodePtr answer = logs(input + "}");
      const auto& entries = answer->at("entries")->array();
      for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const std::string cursor = (*entry)->at("cursor")->getString();
        if (std::find(cursors.begin(), cursors.end(), cursor) != cursors.end()) continue;
        cursors.push_back(cursor);
        times.insert(times.begin(), (*entry)->at("time")->getString());
        shown.insert(shown.begin(), (*entry)->at("message")->getString());
      }
      if (!answer->at("more")->getBool()) break;
    }
    EXPECT_EQ(shown, everything);
  }
}

TEST_F(GatewayLogs, FollowingWithAPhraseGoesOnFromTheLastEntryRead) {
  const JsonNodePtr first =
      logs(R"({"after":")" + forwarderJournal.cursor(1) + R"(","match":"acknowledged","lines":2})");
  EXPECT_EQ(messagesOf(*first),
            (std::vector<std::string>{"# PUSH_DATA acknowledged: 100.00%",
                                      "# PULL_DATA sent: 3 (100.00% acknowledged)"}));
  EXPECT_EQ(first->at("cursor")->getString(),
            first->at("entries")->array()[1]->at("cursor")->getString());
  const JsonNodePtr rest =
      logs(R"({"after":")" + first->at("cursor")->getString() + R"(","match":"acknowledged"})");
  EXPECT_EQ(rest->at("entries")->size(), 4u);
  EXPECT_FALSE(rest->at("more")->getBool(true));
  // The lines after the last match were read too: the next question starts after them.
  EXPECT_EQ(rest->at("cursor")->getString(), forwarderJournal.lastCursor());
  systemctl.journal("packet-forwarder",
                    {forwarderJournal.text("INFO: [down] PULL_ACK received"),
                     forwarderJournal.text("# PUSH_DATA acknowledged: 50.00%")});
  EXPECT_EQ(messagesOf(*logs(R"({"after":")" + rest->at("cursor")->getString() +
                             R"(","match":"acknowledged"})")),
            std::vector<std::string>{"# PUSH_DATA acknowledged: 50.00%"});
  // Without a phrase, the first lines after the cursor, and the cursor where they end.
  const JsonNodePtr two = logs(R"({"after":")" + forwarderJournal.cursor(1) + R"(","lines":2})");
  EXPECT_EQ(messagesOf(*two), (std::vector<std::string>{"##### 2025-12-06 05:47:10 GMT #####",
                                                        "### [UPSTREAM] ###"}));
  EXPECT_EQ(two->at("cursor")->getString(), forwarderJournal.cursor(3));
}

TEST_F(GatewayLogs, ASearchStopsAtItsBoundAndSaysMoreMayComeBefore) {
  systemctl.flood("journalctl", 60'000);
  const JsonNodePtr cut = logs(R"({"match":"no such words"})");
  EXPECT_TRUE(cut->at("entries")->array().empty());
  EXPECT_TRUE(cut->at("more")->getBool());
  EXPECT_NE(systemctl.calls("journalctl").back().find("[--lines=50001]"), std::string::npos);
  systemctl.flood("journalctl", 40'000);
  EXPECT_FALSE(logs(R"({"match":"no such words"})")->at("more")->getBool(true));
}

TEST_F(GatewayApi, LogsRequestsThatAreRefused) {
  const struct {
    std::string input;
    Reply reply;
  } rows[] = {
      {R"("input":{"lines":0})",
       {400, error(23007, "Field lines must be a whole number from 1 to 2000")}},
      {R"("input":{"lines":2001})",
       {400, error(23007, "Field lines must be a whole number from 1 to 2000")}},
      {R"("input":{"lines":"5"})",
       {400, error(23007, "Field lines must be a whole number from 1 to 2000")}},
      {R"("input":{"lines":1.5})",
       {400, error(23007, "Field lines must be a whole number from 1 to 2000")}},
      {R"("input":{"lines":123456789012345678901234567890})",
       {400, error(23007, "Field lines must be a whole number from 1 to 2000")}},
      {R"("input":{"after":123456789012345678901234567890})",
       {400, error(23001, "Field after is not a journal cursor")}},
      {R"("input":{"unit":"nginx"})",
       {400, error(23001, R"(Field unit must be \"forwarder\" or \"ssh\")")}},
      {R"("input":{"unit":"packet-forwarder"})",
       {400, error(23001, R"(Field unit must be \"forwarder\" or \"ssh\")")}},
      {R"("input":{"unit":5})", {400, error(23001, "Field unit is not a string")}},
      {R"("input":{"unti":"ssh"})", {400, error(22007, "Unknown field unti")}},
      {R"("input":{"after":"--since=1970"})",
       {400, error(23001, "Field after is not a journal cursor")}},
      {R"("input":{"after":"s=1;i=2 --x"})",
       {400, error(23001, "Field after is not a journal cursor")}},
      {R"("input":["ssh"])", {400, error(23001, "Field input is not an object")}},
      {R"("input":{"since":"yesterday"})",
       {400,
        error(23004, "Field since must be an ISO-8601 UTC time such as 2026-12-09T21:05:00Z")}},
      {R"("input":{"since":1796778131})",
       {400,
        error(23004, "Field since must be an ISO-8601 UTC time such as 2026-12-09T21:05:00Z")}},
      {R"("input":{"until":"2026-12-09T21:05:00+01:00"})",
       {400,
        error(23004, "Field until must be an ISO-8601 UTC time such as 2026-12-09T21:05:00Z")}},
      {R"("input":{"until":"2026-02-30T21:05:00Z"})",
       {400,
        error(23004, "Field until must be an ISO-8601 UTC time such as 2026-12-09T21:05:00Z")}},
      {R"("input":{"since":"2026-12-09T21:05:00Z","until":"2026-12-09T21:04:59.999Z"})",
       {400, error(23007, "Field until must not be before since")}},
      {R"("input":{"priority":8})",
       {400, error(23007, "Field priority must be a whole number from 0 (emerg) to 7 (debug)")}},
      {R"("input":{"priority":-1})",
       {400, error(23007, "Field priority must be a whole number from 0 (emerg) to 7 (debug)")}},
      {R"("input":{"priority":"4"})",
       {400, error(23007, "Field priority must be a whole number from 0 (emerg) to 7 (debug)")}},
      {R"("input":{"match":""})",
       {400, error(23007, "Field match must be a phrase of 1 to 200 characters")}},
      {R"("input":{"match":")" + std::string(201, 'x') + "\"}",
       {400, error(23007, "Field match must be a phrase of 1 to 200 characters")}},
      {R"("input":{"match":["ERROR"]})", {400, error(23001, "Field match is not a string")}},
      {R"("input":{"after":"s=0;i=99"})",
       {500, error(10001,
                   "journalctl failed with status 1: Failed to seek to cursor: Invalid argument")}},
  };
  systemctl.journal("packet-forwarder", {forwarderJournal.text("x")});
  for (const auto& row : rows)
    EXPECT_EQ(guarded("/rpc/gateway/logs", row.input), row.reply) << row.input;
  EXPECT_EQ(call("/rpc/gateway/logs", "{}"), (Reply{400, error(21031, "Missing field auth")}));
  EXPECT_EQ(call("/rpc/gateway/status", "{}"), (Reply{400, error(21031, "Missing field auth")}));
  // Only the last request reached journalctl.
  EXPECT_EQ(systemctl.calls("journalctl").size(), 1u);
  // No input and a null one are the same: the newest entries of the forwarder.
  EXPECT_EQ(guarded("/rpc/gateway/logs", R"("input":null)").status, 200);

  startServer("");
  EXPECT_EQ(guarded("/rpc/gateway/logs", R"("input":{"unit":"forwarder"})"),
            (Reply{400, error(23000,
                              "The forwarder is not run as a systemd unit here "
                              "(--forwarderUnitServiceName is empty), so it has no "
                              "journal to read")}));
  EXPECT_EQ(guarded("/rpc/gateway/logs", R"("input":{"unit":"ssh"})").status, 200);
}

// Each of these takes three seconds on the gateway's side; /health must not wait for it.
TEST_F(GatewayApi, TheServerAnswersOthersWhileToolsRun) {
  systemctl.delay("journalctl", 3);
  systemctl.delay("start", 3);
  systemctl.delay("restart", 3);
  const struct {
    const char* path;
    const char* members;
    const char* call;  // as the tool notes it before it sleeps
  } slow[] = {
      {"/rpc/gateway/logs", R"("input":{})", "journalctl "},
      {"/rpc/sshd/start", R"("input":{})", "systemctl [start]"},
      {"/rpc/forwarder-config/patch", R"("input":{"gateway_conf":{"keepalive_interval":12}})",
       "systemctl [restart]"},
  };
  const auto made = [this](const std::string& call) {
    std::size_t n = 0;
    for (const std::string& line : systemctl.calls())
      n += line.rfind(call, 0) == 0 ? 1 : 0;
    return n;
  };
  for (const auto& request : slow) {
    SCOPED_TRACE(request.path);
    const std::size_t before = made(request.call);
    const auto start = Clock::now();
    const auto client = send(request.path, request.members);
    ASSERT_TRUE(eventually([&] { return made(request.call) > before; }));
    // The tool runs now. /health is answered meanwhile, before the slow answer: a blocked loop
    // would give that one first, once the tool has ended.
    healthTime();
    pollfd early{client->fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&early, 1, 0), 0);
    const std::string answer = client->readAnswer();
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
    EXPECT_GE(Clock::now() - start, 3s);
  }
}

// Many clients asking at once run a few journalctl at a time, the others wait their turn; clients
// that leave meanwhile leave no child and no descriptor behind.
TEST_F(GatewayApi, ThirtyLogsCallsAtOnceRunThreeToolsAtATimeAndLeaveNothingBehind) {
  systemctl.journal("packet-forwarder", {forwarderJournal.text("one line")});
  systemctl.gate("journalctl");
  const std::string token = this->token();
  const int before = openDescriptors();
  {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    const std::string body = R"({"auth":")" + token + R"(","input":{"lines":5}})";
    for (int i = 0; i < 30; ++i) {
      clients.push_back(std::make_unique<LoopbackClient>(thread->port()));
      clients.back()->send("POST /rpc/gateway/logs HTTP/1.1\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    ASSERT_TRUE(eventually([&] { return systemctl.calls("journalctl").size() == 3; }))
        << systemctl.calls("journalctl").size() << " journalctl started";
    // Some leave while theirs runs, some while theirs waits.
    for (int i = 0; i < 10; ++i)
      clients[i * 3].reset();
    systemctl.open("journalctl");
    for (const auto& client : clients) {
      if (!client) continue;
      const std::string answer = client->readAnswer();
      ASSERT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
      EXPECT_NE(answer.find("one line"), std::string::npos);
    }
  }
  EXPECT_TRUE(eventually([&] { return systemctl.calls("journalctl").size() == 30; }));
  EXPECT_LE(systemctl.mostHeldAtOnce(), 3);
  EXPECT_TRUE(eventually([] { return zombies() == 0; })) << zombies() << " zombies";
  EXPECT_TRUE(eventually([&] { return openDescriptors() <= before; }))
      << openDescriptors() << " descriptors open, " << before << " before";
}

}  // namespace
}  // namespace relaydash
