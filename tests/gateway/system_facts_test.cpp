#include "gateway/system_facts.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "gateway/command.hpp"
#include "runtime/event_loop.hpp"
#include "support/private_bus.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

using testing::ScriptedSystemctl;

TEST(SystemFacts, OsReleasePrettyName) {
  const struct {
    const char* text;
    std::optional<std::string> name;
  } rows[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Raspbian GNU/Linux 10 (buster)'", "Raspbian GNU/Linux 10 (buster)"},
      {"PRETTY_NAME=mLinux", "mLinux"},
      {"PRETTY_NAME=\"Gateway \\\"OS\\\" 2.0\"", "Gateway \"OS\" 2.0"},
      {"NAME=Alpine\nVERSION_ID=3.19", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(osPrettyName(row.text), row.name) << row.text;
}

TEST(SystemFacts, MeminfoInBytes) {
  const MemoryInfo info = parseMeminfo(
      "MemTotal:         496536 kB\nMemFree:           21412 kB\n"
      "MemAvailable:     301244 kB\nBuffers:           30968 kB\n");
  EXPECT_EQ(info.totalBytes, 496536ull * 1024);
  EXPECT_EQ(info.availableBytes, 301244ull * 1024);
  // Kernels before 3.14 have no MemAvailable.
  const MemoryInfo old = parseMeminfo("MemTotal: 1000 kB\nMemFree: x kB\n");
  EXPECT_EQ(old.totalBytes, 1024000u);
  EXPECT_EQ(old.availableBytes, std::nullopt);
}

TEST(SystemFacts, ThisMachine) {
  TempDir dir;
  const SystemFacts facts = readSystemFacts(dir / "global_conf.json");
  EXPECT_FALSE(facts.hostname.empty());
  EXPECT_EQ(facts.kernel.rfind("Linux ", 0), 0u) << facts.kernel;
  EXPECT_TRUE(facts.uptimeSeconds);
  EXPECT_TRUE(facts.load);
  ASSERT_TRUE(facts.memoryTotalBytes);
  EXPECT_GT(*facts.memoryTotalBytes, 0u);
  ASSERT_TRUE(facts.storage);
  EXPECT_EQ(facts.storage->path, dir.path().string());
  EXPECT_GT(facts.storage->totalBytes, 0u);
  EXPECT_LE(facts.storage->freeBytes, facts.storage->totalBytes);
  for (const NetworkInterface& i : facts.interfaces) {
    EXPECT_NE(i.name, "lo");
    for (const std::string& address : i.addresses)
      EXPECT_NE(address.find('/'), std::string::npos) << address;
  }
  EXPECT_FALSE(readSystemFacts("/nonexistent-dir/x.json").storage);
}

TEST(SystemFacts, ClockSynchronisationAsTimedatectlSaysIt) {
  ScriptedSystemctl& fake = ScriptedSystemctl::instance();
  const struct {
    const char* show;
    const char* status;
    std::optional<bool> synchronized;
  } rows[] = {
      {"NTPSynchronized=yes\n", "0", true},
      {"NTPSynchronized=no\n", "0", false},
      {"Timezone=UTC\n", "0", std::nullopt},
  };
  for (const auto& row : rows) {
    fake.reset();
    fake.timedatectl(row.show);
    fake.answer("timedatectl", row.status);
    EventLoop loop;
    EXPECT_EQ(loop.blockOn(readClockSynchronized()), row.synchronized) << row.show;
  }
  EXPECT_EQ(fake.calls("timedatectl").back(), "timedatectl [show] [--property=NTPSynchronized]");
  // Without timedated the clock's source fails, and says how.
  fake.reset();
  fake.answer("timedatectl", "1");
  EventLoop loop;
  try {
    loop.blockOn(readClockSynchronized());
    ADD_FAILURE() << "no error";
  } catch (const CommandError& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 32), "timedatectl failed with status 1");
  }
}

TEST(SystemFacts, TimedatectlAnswersWhenTheBusHasNoTimedated) {
  testing::PrivateBus bus;
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  const testing::SystemBusAddress here(bus.address());
  ScriptedSystemctl& fake = ScriptedSystemctl::instance();
  fake.reset();
  fake.timedatectl("NTPSynchronized=yes\n");
  EventLoop loop;
  EXPECT_EQ(loop.blockOn(readClockSynchronized()), true);
  EXPECT_EQ(fake.calls("timedatectl").size(), 1u);
}

}  // namespace
}  // namespace relaydash
