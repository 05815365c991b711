#include "gateway/config_change.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gateway/unit_watch.hpp"
#include "json/parser.hpp"
#include "runtime/process.hpp"
#include "support/read_file.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedSystemctl;
using namespace std::chrono_literals;

const std::string kSample =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";
const std::string kMarker = "DEADBEEFDEADBEEF";
const std::string kUnit = "packet-forwarder";

// Systemctl calls other than the looks at the units.
std::vector<std::string> commands(const ScriptedSystemctl& systemctl) {
  std::vector<std::string> out;
  for (const std::string& call : systemctl.calls("systemctl")) {
    if (call.rfind("systemctl [show]", 0) != 0) out.push_back(call);
  }
  return out;
}

class ConfigChange : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  const std::string original = readFile(kSample);
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  EventLoop loop;
  ConfigChanges changes{ChangeSettings{.configPath = path,
                                       .unit = kUnit,
                                       .historyDirectory = dir.file("history"),
                                       .lookInterval = 100ms}};

  void SetUp() override {
    systemctl.reset();
    std::ofstream(path, std::ios::binary) << original;
    systemctl.crashWhenConfigHolds(kUnit, path, kMarker);
  }

  ChangeRequest patch(const std::string& json, std::chrono::milliseconds settle = 600ms) {
    ChangeRequest request;
    request.author = {"admin", "127.0.0.1", "forwarder-config/apply"};
    request.patch = parseJson(json);
    request.settle = settle;
    return request;
  }

  ChangeRequest wholeText(std::string text) {
    ChangeRequest request;
    request.author = {"admin", "127.0.0.1", "forwarder-config/restore"};
    request.text = std::move(text);
    request.settle = 600ms;
    return request;
  }

  ChangeOutcome change(ChangeRequest request) {
    return loop.blockOn(changes.change(std::move(request)));
  }
};

TEST_F(ConfigChange, AGoodChangeStaysAndTheOldFileIsKept) {
  const ChangeOutcome outcome =
      change(patch(R"({"gateway_conf":{"server_address":"eu1.example.net"}})"));
  EXPECT_EQ(outcome.result, ChangeResult::Applied) << outcome.message;
  EXPECT_EQ(outcome.version, 1);
  EXPECT_TRUE(outcome.keptLayout);
  EXPECT_TRUE(outcome.restarted);
  std::string expected = original;
  expected.replace(expected.find("\"localhost\""), 11, "\"eu1.example.net\"");
  EXPECT_EQ(readFile(path), expected);
  EXPECT_EQ(changes.history().read(1)->bytes, original);
  EXPECT_EQ(commands(systemctl),
            std::vector<std::string>{"systemctl [restart] [packet-forwarder]"});
  // It looked at the forwarder until the settle time had passed.
  EXPECT_GE(systemctl.calls("systemctl").size(), 5u);
  ASSERT_TRUE(changes.progress());
  EXPECT_EQ(changes.progress()->step, ChangeStep::Finished);
  EXPECT_EQ(changes.progress()->outcome->result, ChangeResult::Applied);
  // Counted for monitoring as it ended.
  EXPECT_EQ(changes.counts().results[static_cast<std::size_t>(ChangeResult::Applied)], 1u);
  EXPECT_EQ(changes.counts().lastResult, ChangeResult::Applied);
  EXPECT_TRUE(changes.counts().lastTime);
  EXPECT_EQ(changes.counts().rollbacks, (std::array<std::uint64_t, kRollbackCauses>{}));
}

TEST_F(ConfigChange, AForwarderThatCrashLoopsGetsItsOldFileBack) {
  const ChangeOutcome outcome =
      change(patch(R"({"gateway_conf":{"gateway_ID":")" + kMarker + "\"}}"));
  EXPECT_EQ(outcome.result, ChangeResult::RolledBack);
  EXPECT_EQ(readFile(path), original);  // byte for byte, comments and all
  EXPECT_NE(outcome.message.find("rolled back"), std::string::npos);
  EXPECT_NE(outcome.message.find("after the restart"), std::string::npos) << outcome.message;
  EXPECT_NE(outcome.message.find("runs with it again"), std::string::npos) << outcome.message;
  ASSERT_FALSE(outcome.journal.empty());
  EXPECT_NE(outcome.journal.back().message.find("failed to start the concentrator"),
            std::string::npos);
  // Both files are in the history: the one put back, and the one that was refused.
  EXPECT_EQ(changes.history().read(*outcome.version)->bytes, original);
  ASSERT_TRUE(outcome.rejected);
  EXPECT_NE(changes.history().read(*outcome.rejected)->bytes.find(kMarker), std::string::npos);
  EXPECT_EQ(commands(systemctl),
            (std::vector<std::string>{"systemctl [restart] [packet-forwarder]",
                                      "systemctl [restart] [packet-forwarder]"}));
  EXPECT_EQ(changes.counts().rollbacks[static_cast<std::size_t>(RollbackCause::Stopped)], 1u);
  EXPECT_EQ(changes.counts().results[static_cast<std::size_t>(ChangeResult::RolledBack)], 1u);
}

// The configuration's path is a symbolic link that someone points elsewhere while the change is
// watched: the rollback puts the old file back where the change wrote, never through the link.
TEST_F(ConfigChange, ARollbackWritesTheFileTheChangeWroteWhateverTheLinkSaysNow) {
  const std::string real = dir.file("real_conf.json");
  const std::string victim = dir.file("victim");
  const std::string link = dir.file("linked_conf.json");
  std::ofstream(real, std::ios::binary) << original;
  std::ofstream(victim) << "not a configuration";
  fs::create_symlink(real, link);
  systemctl.crashWhenConfigHolds(kUnit, real, kMarker);
  ConfigChanges linked{ChangeSettings{.configPath = link,
                                      .unit = kUnit,
                                      .historyDirectory = dir.file("linked-history"),
                                      .lookInterval = 100ms}};
  const auto repoint = [&]() -> Task<void> {
    while (!linked.progress() || linked.progress()->step != ChangeStep::Watching)
      co_await SleepFor(10ms);
    fs::remove(link);
    fs::create_symlink(victim, link);
  };
  loop.spawn(repoint());
  const ChangeOutcome outcome =
      loop.blockOn(linked.change(patch(R"({"gateway_conf":{"gateway_ID":")" + kMarker + "\"}}")));
  EXPECT_EQ(outcome.result, ChangeResult::RolledBack) << outcome.message;
  EXPECT_EQ(readFile(real), original);
  EXPECT_EQ(readFile(victim), "not a configuration");
}

// Whatever is planted in the history's folder in a version's place is no version.
TEST_F(ConfigChange, TheHistoryFollowsNoLinkPlantedInItsFolder) {
  ASSERT_EQ(change(patch(R"({"gateway_conf":{"stat_interval":60}})")).result,
            ChangeResult::Applied);
  ASSERT_TRUE(changes.history().read(1));
  // A version file's exact copy, elsewhere, in its place as a link.
  const std::string elsewhere = dir.file("elsewhere");
  for (const auto& entry : fs::directory_iterator(dir.file("history"))) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), elsewhere, fs::copy_options::overwrite_existing);
    fs::remove(entry.path());
    fs::create_symlink(elsewhere, entry.path());
  }
  EXPECT_EQ(changes.history().read(1), std::nullopt);
}

TEST_F(ConfigChange, ARestartThatFailsIsRolledBackToo) {
  systemctl.answer("restart", "1");
  const ChangeOutcome outcome = change(patch(R"({"gateway_conf":{"stat_interval":60}})"));
  EXPECT_EQ(outcome.result, ChangeResult::RolledBack);
  EXPECT_NE(outcome.message.find("the restart failed: systemctl failed with status 1"),
            std::string::npos)
      << outcome.message;
  EXPECT_NE(outcome.message.find("restarting the forwarder with it failed too"), std::string::npos);
  EXPECT_EQ(readFile(path), original);
  EXPECT_EQ(changes.counts().rollbacks,
            (std::array<std::uint64_t, kRollbackCauses>{1, 0, 0, 0}));  // restart-failed
  EXPECT_EQ(changes.counts().lastResult, ChangeResult::RolledBack);
}

TEST_F(ConfigChange, NothingHappensToAConfigurationThatBreaksARule) {
  const ChangeOutcome outcome =
      change(patch(R"({"gateway_conf":{"serv_port_up":0},"SX1301_conf":{"radio_0":{"freq":5}}})"));
  EXPECT_EQ(outcome.result, ChangeResult::Invalid);
  EXPECT_EQ(outcome.problems.size(), 2u);
  EXPECT_NE(outcome.message.find("gateway_conf.serv_port_up must be a whole number"),
            std::string::npos);
  EXPECT_EQ(readFile(path), original);
  EXPECT_FALSE(fs::exists(dir.file("history")));
  EXPECT_TRUE(systemctl.calls().empty());
}

TEST_F(ConfigChange, AWholeFileComesInByteForByteAndABrokenOneIsRefused) {
  const std::string vendor = readFile(
      "tests/data/forwarder/sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic.global_conf.json");
  EXPECT_EQ(change(wholeText(vendor)).result, ChangeResult::Applied);
  EXPECT_EQ(readFile(path), vendor);

  const ChangeOutcome broken = change(wholeText("{\n  \"gateway_conf\": {\n}"));
  EXPECT_EQ(broken.result, ChangeResult::Invalid);
  ASSERT_EQ(broken.problems.size(), 1u);
  EXPECT_EQ(broken.problems[0].message, "input(3, 1) Error: } expected");
  EXPECT_EQ(readFile(path), vendor);
}

TEST_F(ConfigChange, ABrokenFileCannotBePatchedButCanBeReplaced) {
  std::ofstream(path, std::ios::binary) << "{\"gateway_conf\": {";
  const ChangeOutcome patched = change(patch(R"({"gateway_conf":{"stat_interval":60}})"));
  EXPECT_EQ(patched.result, ChangeResult::Unparsable);
  EXPECT_NE(patched.message.find("replace the whole file"), std::string::npos);
  EXPECT_EQ(change(wholeText(original)).result, ChangeResult::Applied);
  EXPECT_EQ(changes.history().read(1)->bytes, "{\"gateway_conf\": {");
}

TEST_F(ConfigChange, WithoutAUnitTheFileIsWrittenAndNothingRestarted) {
  ConfigChanges plain{
      ChangeSettings{.configPath = path, .unit = "", .historyDirectory = dir.file("h")}};
  const ChangeOutcome outcome =
      loop.blockOn(plain.change(patch(R"({"gateway_conf":{"stat_interval":60}})")));
  EXPECT_EQ(outcome.result, ChangeResult::Applied);
  EXPECT_FALSE(outcome.restarted);
  EXPECT_NE(readFile(path).find("\"stat_interval\": 60"), std::string::npos);
  EXPECT_TRUE(systemctl.calls().empty());
}

TEST_F(ConfigChange, StorageThatFailsLeavesTheFileUntouched) {
  // The history's folder is a file: the old version cannot be kept, so nothing is written.
  {
    ConfigChanges blocked{
        ChangeSettings{.configPath = path, .unit = kUnit, .historyDirectory = path}};
    const ChangeOutcome outcome =
        loop.blockOn(blocked.change(patch(R"({"gateway_conf":{"stat_interval":60}})")));
    EXPECT_EQ(outcome.result, ChangeResult::Failed);
    EXPECT_NE(outcome.message.find("The history could not be written (Not a directory)"),
              std::string::npos)
        << outcome.message;
  }
  // A disk too full for the new file: the version kept for it goes again.
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  // Room for a version (the file and a header line), not for the new file.
  small.rlim_cur = original.size() + 500;
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  const ChangeOutcome outcome =
      change(patch(R"({"gateway_conf":{"relaydash_note":")" + std::string(1000, 'x') + "\"}}"));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(outcome.result, ChangeResult::Failed);
  EXPECT_NE(outcome.message.find("could not be written (File too large); it is untouched"),
            std::string::npos)
      << outcome.message;
  EXPECT_EQ(readFile(path), original);
  EXPECT_TRUE(changes.history().list().empty());
  EXPECT_TRUE(commands(systemctl).empty());  // looked at, never restarted
}

TEST_F(ConfigChange, OneChangeAtATimeAndPatchesWaitTheirTurn) {
  systemctl.gate("restart");
  std::optional<ChangeOutcome> first;
  loop.spawn(
      [](ConfigChanges& c, ChangeRequest r, std::optional<ChangeOutcome>& out) -> Task<void> {
        out = co_await c.change(std::move(r));
      }(changes, patch(R"({"gateway_conf":{"stat_interval":60}})", 200ms), first));
  const auto restarting = [&] {
    return changes.busy() && changes.progress()->step == ChangeStep::Restarting;
  };
  for (int turns = 0; turns < 1000 && !restarting(); ++turns)
    loop.runFor(10ms);
  ASSERT_TRUE(restarting());

  const ChangeOutcome second = change(patch(R"({"gateway_conf":{"stat_interval":90}})"));
  EXPECT_EQ(second.result, ChangeResult::Busy);
  EXPECT_NE(second.message.find("(forwarder-config/apply by admin from 127.0.0.1)"),
            std::string::npos);

  const auto waited = [](ConfigChanges& c) -> Task<bool> {
    const ConfigChanges::Turn turn = co_await c.waitTurn();
    co_return c.busy();
  };
  systemctl.open("restart");
  EXPECT_TRUE(loop.blockOn(waited(changes)));  // held while the patch would run
  ASSERT_TRUE(first);
  EXPECT_EQ(first->result, ChangeResult::Applied);
  EXPECT_FALSE(changes.busy());
}

TEST(UnitWatch, ANewMainProcessIsACrash) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  systemctl.reset();
  EventLoop loop;
  // Something restarts the unit while it is watched: a new PID, the state unchanged.
  loop.spawn([]() -> Task<void> {
    co_await SleepFor(150ms);
    std::vector<std::string> argv{"systemctl", "restart", "packet-forwarder"};
    co_await runProcess(std::move(argv));
  }());
  // The watch ends when it sees the new process, however long the restart takes to come.
  const WatchVerdict verdict = loop.blockOn(watchUnit("packet-forwarder", 60s, 50ms));
  EXPECT_FALSE(verdict.healthy);
  EXPECT_NE(verdict.reason.find("another took its place (PID 1234 → 1235)"), std::string::npos)
      << verdict.reason;

  systemctl.show("packet-forwarder",
                 "ActiveState=failed\nSubState=failed\nNRestarts=3\nMainPID=0\n");
  const WatchVerdict failed = loop.blockOn(watchUnit("packet-forwarder", 1s, 50ms));
  EXPECT_EQ(failed.reason, "the forwarder was not running after the restart (failed/failed)");
  EXPECT_FALSE(loop.blockOn(waitUntilRunning("packet-forwarder", 200ms, 50ms)));
}

}  // namespace
}  // namespace relaydash
