#include "gateway/unit_status.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/command.hpp"
#include "runtime/event_loop.hpp"
#include "support/private_bus.hpp"
#include "support/scripted_systemctl.hpp"

namespace relaydash {
namespace {

using testing::ScriptedSystemctl;

constexpr std::int64_t kSecond = 1'000'000;

// A unit that keeps crashing: systemd gave up restarting it.
const char* const kFailedForwarder =
    "LoadState=loaded\n"
    "ActiveState=failed\n"
    "SubState=failed\n"
    "Result=exit-code\n"
    "UnitFileState=enabled\n"
    "ActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC\n"
    "StateChangeTimestamp=Tue 2026-12-08 10:15:00 UTC\n"
    "NRestarts=5\n"
    "MainPID=0\n";

// What systemctl says of a unit that does not exist.
const char* const kMissingUnit =
    "LoadState=not-found\n"
    "ActiveState=inactive\n"
    "SubState=dead\n"
    "Result=success\n"
    "UnitFileState=\n"
    "ActiveEnterTimestamp=\n"
    "StateChangeTimestamp=\n"
    "NRestarts=0\n"
    "MainPID=0\n";

std::vector<UnitStatus> readNow(std::vector<std::string> units) {
  EventLoop loop;
  return loop.blockOn(readUnitStatus(std::move(units)));
}

TEST(UnitProperties, BlocksAreSplitAtEmptyLines) {
  const auto blocks = parseUnitProperties(
      "ActiveState=active\nExecStart={ path=/bin/x ; argv[]=/bin/x -a=b }\r\n\n"
      "not a property\nActiveState=\n\n\n");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], (UnitProperties{{"ActiveState", "active"},
                                       {"ExecStart", "{ path=/bin/x ; argv[]=/bin/x -a=b }"}}));
  EXPECT_EQ(blocks[1], (UnitProperties{{"ActiveState", ""}}));
  EXPECT_TRUE(parseUnitProperties("").empty());
}

TEST(UnitProperties, StatusOfAFailedAndOfAMissingUnit) {
  const UnitStatus failed =
      unitStatusFrom("packet-forwarder", parseUnitProperties(kFailedForwarder).at(0));
  EXPECT_EQ(failed.unit, "packet-forwarder");
  EXPECT_EQ(failed.activeState, "failed");
  EXPECT_EQ(failed.subState, "failed");
  EXPECT_EQ(failed.result, "exit-code");
  EXPECT_EQ(failed.unitFileState, "enabled");
  EXPECT_EQ(failed.activeSince, 1'796'724'672 * kSecond);
  EXPECT_EQ(failed.stateChangedAt, (1'796'724'672 + 228) * kSecond);
  EXPECT_EQ(failed.restarts, 5);
  EXPECT_EQ(failed.mainPid, std::nullopt);  // MainPID=0: no process

  const UnitStatus missing = unitStatusFrom("nope", parseUnitProperties(kMissingUnit).at(0));
  EXPECT_EQ(missing.loadState, "not-found");
  EXPECT_EQ(missing.unitFileState, std::nullopt);
  EXPECT_EQ(missing.activeSince, std::nullopt);
  EXPECT_EQ(missing.restarts, 0);

  // An old systemd without NRestarts, and a number that is none.
  const UnitStatus old = unitStatusFrom("x", {{"ActiveState", "active"}, {"MainPID", "12a"}});
  EXPECT_EQ(old.restarts, std::nullopt);
  EXPECT_EQ(old.mainPid, std::nullopt);
}

TEST(ReadUnitStatus, OneSystemctlCallForBothUnits) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  systemctl.reset();
  systemctl.show("packet-forwarder", kFailedForwarder);
  const std::vector<UnitStatus> units = readNow({"packet-forwarder", "ssh"});
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].activeState, "failed");
  EXPECT_EQ(units[1].unit, "ssh");
  EXPECT_EQ(units[1].subState, "running");
  EXPECT_EQ(units[1].mainPid, 1234);
  EXPECT_EQ(systemctl.calls(),
            std::vector<std::string>{"systemctl [show] [--property=LoadState,ActiveState,SubState,"
                                     "Result,UnitFileState,ActiveEnterTimestamp,"
                                     "StateChangeTimestamp,NRestarts,MainPID] [--] "
                                     "[packet-forwarder] [ssh]"});
}

// A bus without systemd's manager answers every call with an error: systemctl is asked then, as
// it is when there is no bus at all (every other test here).
TEST(ReadUnitStatus, SystemctlAnswersWhenTheBusHasNoSystemd) {
  testing::PrivateBus bus;
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  const testing::SystemBusAddress here(bus.address());
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  systemctl.reset();
  systemctl.show("packet-forwarder", kFailedForwarder);
  const std::vector<UnitStatus> units = readNow({"packet-forwarder"});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].result, "exit-code");
  EXPECT_EQ(systemctl.calls("systemctl").size(), 1u);
}

TEST(ReadUnitStatus, FailuresAreCommandErrorsThatSayWhatHappened) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  const struct {
    const char* status;
    const char* message;
  } rows[] = {
      {"1", "systemctl failed with status 1: Failed to show unit: simulated failure"},
      {"kill", "systemctl failed with status 137"},
  };
  for (const auto& row : rows) {
    systemctl.reset();
    systemctl.answer("show", row.status);
    try {
      readNow({"ssh"});
      ADD_FAILURE() << row.status;
    } catch (const CommandError& e) {
      EXPECT_STREQ(e.what(), row.message);
    }
  }
  // An answer for fewer units than asked.
  systemctl.reset();
  systemctl.show("packet-forwarder", "");
  try {
    readNow({"packet-forwarder", "ssh"});
    ADD_FAILURE();
  } catch (const CommandError& e) {
    EXPECT_STREQ(e.what(), "systemctl show answered for 1 units instead of 2");
  }
}

}  // namespace
}  // namespace relaydash
