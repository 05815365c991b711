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
  systemctl.journal(
      "packet-forwarder",
      forwarderJournal.lines(statisticsReport("2025-12-06 05:47:10", 12, "100.00"), 30));
  systemctl.journal(
      "packet-forwarder",
      forwarderJournal.lines(statisticsReport("2025-12-06 05:47:40", 3, "0.00", "0.00"), 30));

  const JsonNodePtr status = output(guarded("/rpc/gateway/status"));
  EXPECT_EQ(keys(*status), (std::vector<std::string>{"units", "gateway", "forwarderConfig",
                                                     "linkHealth", "relaydash"}));
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
            R"("serverPortDown":1730,"layout":"SX130x_conf","sizeBytes":5841,)");
  EXPECT_TRUE(status->at("forwarderConfig")->at("hasComments")->getBool());
  EXPECT_TRUE(status->at("forwarderConfig")->at("error")->isNull());

  const JsonNode& link = *status->at("linkHealth");
  EXPECT_EQ(link.at("latest")->at("pushDataAckPercent")->getFloat(-1), 0.0);
  EXPECT_EQ(link.at("latest")->at("rfReceived")->getInt(), 3);
  EXPECT_EQ(link.at("latest")->at("time")->getString(), "2025-12-06T05:47:40Z");
  ASSERT_EQ(link.at("series")->size(), 2u);
  EXPECT_EQ(toCompact(*link.at("series")->array()[0]),
            R"({"time":"2025-12-06T05:47:10Z","rfReceived":12,"rfForwarded":12,)"
            R"("pushDataSent":13,"pushDataAckPercent":100.0,"pullDataAckPercent":100.0})");

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

TEST_F(GatewayApi, StatusWithoutAForwarderUnitAndWithToolsThatFail) {
  startServer("");
  systemctl.answer("timedatectl", "1");
  JsonNodePtr status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("units")->at("forwarder")->isNull());
  EXPECT_EQ(status->at("units")->at("ssh")->at("unit")->getString(), "ssh");
  EXPECT_TRUE(status->at("linkHealth")->isNull());
  EXPECT_TRUE(status->at("gateway")->at("clockSynchronized")->isNull());
  EXPECT_EQ(systemctl.calls("journalctl"), std::vector<std::string>{});
  EXPECT_EQ(systemctl.calls("systemctl").back().substr(0, 16), "systemctl [show]");
  EXPECT_NE(systemctl.calls("systemctl").back().find("[--] [ssh]"), std::string::npos);

  // A journal that cannot be read leaves the link unknown; a systemctl that fails is an error.
  startServer("packet-forwarder");
  systemctl.answer("journalctl", "1");
  status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("linkHealth")->isNull());
  systemctl.answer("show", "3");
  EXPECT_EQ(guarded("/rpc/gateway/status"),
            (Reply{500, error(10001,
                              "systemctl failed with status 3: Failed to show unit: "
                              "simulated failure")}));
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
      R"({"entries":[{"time":"2025-12-06T05:46:40.500Z","priority":5,"message":"concentrator started"},)"
      R"({"time":"2025-12-06T05:46:41.000Z","priority":3,"message":"bad byte )"
      "\xEF\xBF\xBD"
      R"( here"},{"time":"2025-12-06T05:46:41.500Z","priority":7,)"
      R"("message":"INFO: [down] PULL_ACK received in 41 ms"}],)"
      R"("cursor":")" +
          forwarderJournal.cursor(3) + "\"}");

  const JsonNodePtr last =
      output(guarded("/rpc/v1/gateway/logs", R"("input":{"unit":"forwarder","lines":1})"));
  EXPECT_EQ(last->at("entries")->size(), 1u);
  const JsonNodePtr after = output(
      guarded("/rpc/gateway/logs", R"("input":{"after":")" + forwarderJournal.cursor(1) + "\"}"));
  EXPECT_EQ(after->at("entries")->size(), 2u);
  const JsonNodePtr nothingNew = output(
      guarded("/rpc/gateway/logs", R"("input":{"after":")" + forwarderJournal.cursor(3) + "\"}"));
  EXPECT_EQ(toCompact(*nothingNew),
            R"({"entries":[],"cursor":")" + forwarderJournal.cursor(3) + "\"}");
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

TEST_F(GatewayApi, AHundredLogsCallsAtOnceLeaveNoZombieAndNoDescriptor) {
  systemctl.journal("packet-forwarder", {forwarderJournal.text("one line")});
  systemctl.delay("journalctl", 1);
  const std::string token = this->token();
  const int before = openDescriptors();
  {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    const std::string body = R"({"auth":")" + token + R"(","input":{"lines":5}})";
    for (int i = 0; i < 100; ++i) {
      clients.push_back(std::make_unique<LoopbackClient>(thread->port()));
      clients.back()->send("POST /rpc/gateway/logs HTTP/1.1\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    // Every journalctl has started (each logs its call first) before some clients leave: their
    // children are reaped all the same.
    EXPECT_TRUE(eventually([&] { return systemctl.calls("journalctl").size() == 100; }))
        << systemctl.calls("journalctl").size() << " journalctl started";
    for (int i = 0; i < 10; ++i)
      clients[i].reset();
    for (int i = 10; i < 100; ++i) {
      const std::string answer = clients[i]->readAnswer();
      ASSERT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
      EXPECT_NE(answer.find("one line"), std::string::npos);
    }
  }
  EXPECT_TRUE(eventually([] { return zombies() == 0; })) << zombies() << " zombies";
  EXPECT_TRUE(eventually([&] { return openDescriptors() <= before; }))
      << openDescriptors() << " descriptors open, " << before << " before";
}

}  // namespace
}  // namespace relaydash
