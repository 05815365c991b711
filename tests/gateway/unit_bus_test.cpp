#include "gateway/unit_bus.hpp"

#include <gtest/gtest.h>

#include <string>

#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

// systemctl's lines and the bus's properties for the same two units: a forwarder that crashed
// and was restarted, running again, and a timer that has never run.
const char* const kRestartedForwarder =
    "LoadState=loaded\n"
    "ActiveState=active\n"
    "SubState=running\n"
    "Result=success\n"
    "UnitFileState=enabled\n"
    "ActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC\n"
    "StateChangeTimestamp=Tue 2026-12-08 10:15:00 UTC\n"
    "NRestarts=3\n"
    "MainPID=4242\n";

const char* const kIdleTimer =
    "LoadState=loaded\n"
    "ActiveState=inactive\n"
    "SubState=dead\n"
    "UnitFileState=\n"
    "ActiveEnterTimestamp=\n"
    "StateChangeTimestamp=\n";

std::uint64_t at(const char* text) {
  return static_cast<std::uint64_t>(*parseSystemdTimestamp(text));
}

TEST(UnitStatusFromBus, TheSameStatusAsSystemctlGives) {
  const BusProperties unit{{"Id", std::string("packet-forwarder.service")},
                           {"LoadState", std::string("loaded")},
                           {"ActiveState", std::string("active")},
                           {"SubState", std::string("running")},
                           {"UnitFileState", std::string("enabled")},
                           {"ActiveEnterTimestamp", at("Tue 2026-12-08 10:11:12 UTC")},
                           {"StateChangeTimestamp", at("Tue 2026-12-08 10:15:00 UTC")},
                           {"CanStart", true}};
  const BusProperties service{{"Result", std::string("success")},
                              {"NRestarts", std::uint64_t{3}},
                              {"MainPID", std::uint64_t{4242}}};
  EXPECT_EQ(unitStatusFromBus("packet-forwarder", unit, &service),
            unitStatusFrom("packet-forwarder", parseUnitProperties(kRestartedForwarder).at(0)));

  // Not a service: no service facts. Never active: both timestamps 0.
  const BusProperties timer{
      {"LoadState", std::string("loaded")},       {"ActiveState", std::string("inactive")},
      {"SubState", std::string("dead")},          {"UnitFileState", std::string()},
      {"ActiveEnterTimestamp", std::uint64_t{0}}, {"StateChangeTimestamp", std::uint64_t{0}}};
  EXPECT_EQ(unitStatusFromBus("apt.timer", timer, nullptr),
            unitStatusFrom("apt.timer", parseUnitProperties(kIdleTimer).at(0)));
}

TEST(UnitStatusFromBus, NoProcessAndValuesOfAnotherTypeAreNone) {
  const BusProperties unit{{"LoadState", std::string("loaded")},
                           {"ActiveState", true},
                           {"ActiveEnterTimestamp", std::string("yesterday")}};
  const BusProperties service{
      {"MainPID", std::uint64_t{0}}, {"NRestarts", std::uint64_t{0}}, {"Result", std::uint64_t{1}}};
  const UnitStatus status = unitStatusFromBus("x", unit, &service);
  EXPECT_EQ(status.activeState, "");
  EXPECT_EQ(status.activeSince, std::nullopt);
  EXPECT_EQ(status.mainPid, std::nullopt);
  EXPECT_EQ(status.restarts, 0);  // none yet is a count, not a missing one
  EXPECT_EQ(status.result, std::nullopt);
}

TEST(SystemdUnitName, ANameWithoutAUnitTypeIsAService) {
  EXPECT_EQ(systemdUnitName("packet-forwarder"), "packet-forwarder.service");
  EXPECT_EQ(systemdUnitName("ssh.service"), "ssh.service");
  EXPECT_EQ(systemdUnitName("apt-daily.timer"), "apt-daily.timer");
  EXPECT_EQ(systemdUnitName("lora.pkt.fwd"), "lora.pkt.fwd.service");
  EXPECT_EQ(systemdUnitName(".service"), ".service.service");
}

}  // namespace
}  // namespace relaydash
