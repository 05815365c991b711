// The watch after a change judges the link to the network server too, and a change that a stop
// of relaydash interrupted is finished when it starts again.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gateway/change_watch.hpp"
#include "gateway/config_change.hpp"
#include "gateway/content_hash.hpp"
#include "gateway/pending_change.hpp"
#include "gateway/time_text.hpp"
#include "json/parser.hpp"
#include "support/fake_journal.hpp"
#include "support/read_file.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;
using testing::FakeJournal;
using testing::ScriptedSystemctl;
using namespace std::chrono_literals;

const std::string kSample =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";
const std::string kMarker = "DEADBEEFDEADBEEF";
const std::string kUnit = "packet-forwarder";

std::int64_t nowUtc() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// "2026-12-09 21:05:00", as a report's date line gives its time.
std::string reportDate(std::int64_t microseconds) {
  const time_t seconds = static_cast<time_t>(microseconds / 1'000'000);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

// A report as the forwarder prints it: its counters and acknowledgements.
std::vector<std::string> reportLines(const std::string& dateLine, const std::string& pushAck,
                                     const std::string& pullAck) {
  return {dateLine,
          "### [UPSTREAM] ###",
          "# RF packets received by concentrator: 4",
          "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%",
          "# RF packets forwarded: 4 (92 bytes)",
          "# PUSH_DATA datagrams sent: 5 (820 bytes)",
          "# PUSH_DATA acknowledged: " + pushAck + "%",
          "### [DOWNSTREAM] ###",
          "# PULL_DATA sent: 3 (" + pullAck + "% acknowledged)",
          "# PULL_RESP(onse) datagrams received: 0 (0 bytes)",
          "# RF packets sent to concentrator: 0 (0 bytes)",
          "# TX errors: 0",
          "### [GPS] ###",
          "# GPS sync is disabled",
          "##### END #####"};
}

class ChangeWatch : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  const std::string original = readFile(kSample);
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  EventLoop loop;
  ConfigChanges changes{ChangeSettings{.configPath = path,
                                       .unit = kUnit,
                                       .historyDirectory = dir.file("history"),
                                       .lookInterval = 100ms,
                                       .reportMargin = 200ms}};

  void SetUp() override {
    systemctl.reset();
    std::ofstream(path, std::ios::binary) << original;
    systemctl.crashWhenConfigHolds(kUnit, path, kMarker);
  }

  // Reports of the last minute, acknowledged as given.
  void reportsBefore(const std::string& ack) {
    const std::int64_t start = nowUtc() - 70'000'000;
    FakeJournal journal(kUnit, start);
    std::vector<std::string> entries;
    for (int i = 1; i <= 2; ++i) {
      const std::string date = "##### " + reportDate(start + i * 30'000'000) + " GMT #####";
      for (const std::string& e : journal.lines(reportLines(date, ack, ack), 30))
        entries.push_back(e);
    }
    systemctl.journal(kUnit, entries);
  }

  // The report the forwarder prints a second after each restart.
  void reportAfterRestart(const std::string& pushAck, const std::string& pullAck) {
    std::vector<std::string> entries;
    int n = 0;
    for (const std::string& line : reportLines("@DATE@", pushAck, pullAck)) {
      entries.push_back("{\"__CURSOR\":\"s=r;i=@NOW@x" + std::to_string(++n) +
                        "\",\"__REALTIME_TIMESTAMP\":\"@NOW@\",\"PRIORITY\":\"6\",\"MESSAGE\":\"" +
                        line + "\"}");
    }
    systemctl.restartJournal(kUnit, entries);
  }

  ChangeRequest patch(const std::string& json, std::chrono::milliseconds settle = 300ms) {
    ChangeRequest request;
    request.author = {"admin", "127.0.0.1", "forwarder-config/apply"};
    request.patch = parseJson(json);
    request.settle = settle;
    return request;
  }

  ChangeOutcome change(ChangeRequest request) {
    return loop.blockOn(changes.change(std::move(request)));
  }

  std::string pendingPath() const { return dir.file("history") + "/change-under-way.json"; }

  // What a relaydash killed while it watched this change leaves behind: the file in place, the
  // forwarder restarted with it, the record of the change.
  void interruptedChange(const std::string& text) {
    const int before = changes.history().save(original, {"admin", "10.0.0.5", "apply"}).number;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ASSERT_EQ(std::system(("systemctl restart " + kUnit).c_str()), 0);
    writePendingChange(pendingPath(), PendingChange{before,
                                                    {"admin", "10.0.0.5", "forwarder-config/apply"},
                                                    formatIsoUtc(nowUtc()),
                                                    contentHash(text),
                                                    nowUtc(),
                                                    300,
                                                    true});
  }
};

TEST_F(ChangeWatch, AChangeAfterWhichTheServerStopsAcknowledgingIsRolledBack) {
  reportsBefore("100.00");
  reportAfterRestart("0.00", "0.00");
  const ChangeOutcome outcome =
      change(patch(R"({"gateway_conf":{"server_address":"eu1.example.netwrok"}})"));
  ASSERT_EQ(outcome.result, ChangeResult::RolledBack) << outcome.message;
  EXPECT_EQ(readFile(path), original);
  EXPECT_NE(outcome.message.find("the network server stopped acknowledging after the change: "
                                 "PUSH_DATA acknowledged 0 % (100 % before)"),
            std::string::npos)
      << outcome.message;
  EXPECT_EQ(outcome.link.find("the network server stopped acknowledging"), 0u) << outcome.link;
  EXPECT_EQ(changes.counts().rollbacks[static_cast<std::size_t>(RollbackCause::Link)], 1u);
  // The file taken away says why, and what it changed.
  ASSERT_TRUE(outcome.rejected);
  const ConfigVersion rejected = changes.history().read(*outcome.rejected)->version;
  EXPECT_EQ(rejected.facts.kind, "rejected");
  EXPECT_NE(rejected.facts.reason.find("stopped acknowledging"), std::string::npos);
  EXPECT_EQ(rejected.facts.changed, std::vector<std::string>{"gateway_conf.server_address"});
  // The file before it ran well: running, and acknowledged.
  EXPECT_EQ(changes.history().read(*outcome.version)->version.facts.ranWell, true);
  EXPECT_FALSE(fs::exists(pendingPath()));
}

TEST_F(ChangeWatch, TheOutcomeSaysWhatTheNetworkServerDid) {
  reportsBefore("100.00");
  reportAfterRestart("100.00", "100.00");
  ChangeOutcome outcome = change(patch(R"({"gateway_conf":{"keepalive_interval":12}})"));
  ASSERT_EQ(outcome.result, ChangeResult::Applied) << outcome.message;
  EXPECT_EQ(outcome.link,
            "PUSH_DATA acknowledged 100 %, PULL_DATA acknowledged 100 % in the first report after "
            "the change");
  EXPECT_FALSE(fs::exists(pendingPath()));

  // A caller may ask for the process alone: the link is then not judged at all.
  reportAfterRestart("0.00", "0.00");
  ChangeRequest request = patch(R"({"gateway_conf":{"keepalive_interval":14}})");
  request.watchLink = false;
  outcome = change(std::move(request));
  EXPECT_EQ(outcome.result, ChangeResult::Applied) << outcome.message;
  EXPECT_EQ(outcome.link, "only the forwarder's process was watched, not its link");

  // Without any report before the change there is nothing to compare, and no reason to wait.
  systemctl.reset();
  systemctl.crashWhenConfigHolds(kUnit, path, kMarker);
  outcome = change(patch(R"({"gateway_conf":{"keepalive_interval":16}})"));
  EXPECT_EQ(outcome.result, ChangeResult::Applied) << outcome.message;
  EXPECT_NE(outcome.link.find("no statistics report of the forwarder from before the change"),
            std::string::npos)
      << outcome.link;
}

TEST_F(ChangeWatch, AForwarderThatQuitsOnItsAutoquitThresholdIsWatchedUntilItDoes) {
  // It exits with status 0 a while after the restart, so systemd's Restart=on-failure leaves it
  // dead. A settle time of 0 would not wait for that; its autoquit_threshold makes the watch do.
  systemctl.quitAfterLooks(kUnit, 4);
  const ChangeOutcome outcome = change(
      patch(R"({"gateway_conf":{"autoquit_threshold":1,"keepalive_interval":1,"stat_interval":1}})",
            0ms));
  ASSERT_EQ(outcome.result, ChangeResult::RolledBack) << outcome.message;
  EXPECT_NE(outcome.message.find("the forwarder stopped"), std::string::npos) << outcome.message;
  EXPECT_NE(outcome.message.find("inactive/dead, result success"), std::string::npos)
      << outcome.message;
  EXPECT_EQ(readFile(path), original);
}

TEST_F(ChangeWatch, AnInterruptedChangeThatBreaksTheForwarderIsRolledBackAtStartUp) {
  std::string bad = original;
  bad.replace(bad.find("AA555A0000000000"), 16, kMarker);
  interruptedChange(bad);
  const std::optional<InterruptedChange> found = loop.blockOn(changes.finishInterrupted());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->state, InterruptedChange::State::RolledBack) << found->message;
  EXPECT_NE(found->message.find("interrupted when relaydash stopped"), std::string::npos);
  EXPECT_NE(found->message.find("rolled back"), std::string::npos) << found->message;
  EXPECT_EQ(readFile(path), original);
  ASSERT_TRUE(found->rejected);
  EXPECT_EQ(changes.history().read(*found->rejected)->bytes, bad);
  EXPECT_FALSE(fs::exists(pendingPath()));
  ASSERT_TRUE(changes.interrupted());
  EXPECT_EQ(changes.interrupted()->state, InterruptedChange::State::RolledBack);
  // Found once: the next start finds nothing.
  EXPECT_FALSE(loop.blockOn(changes.finishInterrupted()));
}

TEST_F(ChangeWatch, AnInterruptedChangeThatWorksOrWasReplacedIsLeftAlone) {
  std::string good = original;
  good.replace(good.find("AA555A0000000000"), 16, "AA555A0000000001");
  interruptedChange(good);
  std::optional<InterruptedChange> found = loop.blockOn(changes.finishInterrupted());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->state, InterruptedChange::State::Kept) << found->message;
  EXPECT_NE(found->message.find("the forwarder runs with it"), std::string::npos);
  EXPECT_EQ(readFile(path), good);
  EXPECT_FALSE(fs::exists(pendingPath()));

  // Someone replaced the file since: it is not the change's to judge any more.
  interruptedChange(good);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << original;
  systemctl.reset();
  found = loop.blockOn(changes.finishInterrupted());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->state, InterruptedChange::State::Kept);
  EXPECT_NE(found->message.find("changed since"), std::string::npos) << found->message;
  EXPECT_EQ(readFile(path), original);
  EXPECT_TRUE(systemctl.calls("systemctl").empty());
}

}  // namespace
}  // namespace relaydash
