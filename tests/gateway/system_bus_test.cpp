#include "gateway/system_bus.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/libsystemd.hpp"
#include "runtime/event_loop.hpp"
#include "support/private_bus.hpp"

namespace relaydash {
namespace {

using testing::kNoSystemBus;
using testing::PrivateBus;
using testing::SystemBusAddress;

// The bus daemon's own properties (arrays only, so none is kept) and a call to a name nobody
// owns.
std::vector<BusCall> daemonAndNobody() {
  return {BusCall{"org.freedesktop.DBus",
                  "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.Properties",
                  "GetAll",
                  {"org.freedesktop.DBus"}},
          BusCall{"org.relaydash.Nobody",
                  "/org/relaydash/Nobody",
                  "org.freedesktop.DBus.Properties",
                  "GetAll",
                  {"org.relaydash.Nobody"}}};
}

std::vector<BusReply> ask(std::vector<BusCall> calls) {
  EventLoop loop;
  return loop.blockOn(callSystemBus(std::move(calls), std::chrono::seconds(5)));
}

TEST(Libsystemd, AMissingLibraryOrFunctionIsAReason) {
  std::string why;
  EXPECT_EQ(openLibsystemd({"librelaydash-none.so.0"}, why), nullptr);
  EXPECT_EQ(why, "could not load: librelaydash-none.so.0");
  // The C library loads, but has none of sd-bus.
  EXPECT_EQ(openLibsystemd({"libc.so.6"}, why), nullptr);
  EXPECT_EQ(why, "could not import: sd_bus_open_system");
  if (SharedLibrary::open({"libsystemd.so.0"})) {
    EXPECT_NE(libsystemd(why), nullptr) << why;
  }
}

TEST(SystemBus, NoBusThereIsUnreachable) {
  const SystemBusAddress none(kNoSystemBus);
  try {
    ask(daemonAndNobody());
    FAIL() << "answered without a bus";
  } catch (const BusError& e) {
    EXPECT_TRUE(e.unreachable());
    EXPECT_NE(std::string(e.what()).find("could not connect to the system bus"), std::string::npos)
        << e.what();
  }
}

TEST(SystemBus, RepliesAndErrorRepliesComeInTheOrderAsked) {
  PrivateBus bus;
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  const SystemBusAddress here(bus.address());
  std::vector<BusReply> replies = ask(daemonAndNobody());
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_FALSE(replies[0].failed()) << replies[0].errorMessage();
  EXPECT_TRUE(replies[0].propertyMap().empty());
  EXPECT_EQ(replies[1].errorName(), "org.freedesktop.DBus.Error.ServiceUnknown");
  try {
    replies[1].propertyMap();
    FAIL() << "an error reply read as properties";
  } catch (const BusError& e) {
    EXPECT_FALSE(e.unreachable());
  }
}

// Calls waiting together on one connection: whichever reads a reply hands it to its caller.
TEST(SystemBus, CallsInFlightTogetherAllGetTheirReplies) {
  PrivateBus bus;
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  const SystemBusAddress here(bus.address());
  EventLoop loop;
  constexpr int kCalls = 4;
  int answered = 0;
  for (int i = 0; i < kCalls; ++i) {
    loop.spawn([](int& answered) -> Task<void> {
      std::vector<BusReply> replies =
          co_await callSystemBus(daemonAndNobody(), std::chrono::seconds(5));
      if (!replies[0].failed() && replies[1].failed()) ++answered;
    }(answered));
  }
  // Each turn handles at least one event; the calls fail by their deadline at the latest.
  for (int turn = 0; turn < 10'000 && loop.watchedCount() > 0; ++turn)
    loop.runOnce(-1);
  EXPECT_EQ(answered, kCalls);
}

TEST(SystemBus, ABrokenConnectionIsMadeAgainAtTheNextCall) {
  PrivateBus first;
  if (!first.available()) GTEST_SKIP() << "no dbus-daemon";
  const SystemBusAddress here(first.address());
  EXPECT_FALSE(ask(daemonAndNobody())[0].failed());
  first.stop();
  try {
    ask(daemonAndNobody());
    FAIL() << "answered by a stopped bus";
  } catch (const BusError& e) {
    EXPECT_TRUE(e.unreachable()) << e.what();
  }
  PrivateBus second;
  ASSERT_TRUE(second.available());
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", second.address().c_str(), 1);
  EXPECT_FALSE(ask(daemonAndNobody())[0].failed());
}

}  // namespace
}  // namespace relaydash
