#include "security/sign_in_throttle.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace relaydash {
namespace {

using namespace std::chrono_literals;
using TimePoint = SignInThrottle::TimePoint;
using Duration = SignInThrottle::Duration;

const TimePoint t0 = TimePoint{} + 1000h;

// How long an attempt arriving at `at` waits; -1 when it is dropped.
long long waitMs(SignInThrottle& throttle, const std::string& peer, TimePoint at) {
  const std::optional<SignInThrottle::Ticket> ticket = throttle.admit(peer, at);
  return ticket ? std::chrono::duration_cast<std::chrono::milliseconds>(ticket->wait()).count()
                : -1;
}

TEST(SignInThrottle, FiveFailuresWithinFifteenMinutesSlowTheirAddressOnly) {
  const struct {
    const char* name;
    std::vector<std::chrono::seconds> failures;
    bool succeededAfter;
    std::chrono::seconds askedAt;
    long long wait;
  } rows[] = {
      {"four failures", {0s, 1s, 2s, 3s}, false, 4s, 0},
      {"five failures", {0s, 1s, 2s, 3s, 4s}, false, 5s, 1000},
      {"the fifth failure 14 min after the first", {0s, 60s, 120s, 180s, 840s}, false, 899s, 1000},
      {"the first failure out of the window", {0s, 60s, 120s, 180s, 840s}, false, 900s, 0},
      {"a success clears the address", {0s, 1s, 2s, 3s, 4s}, true, 5s, 0},
  };
  for (const auto& row : rows) {
    SignInThrottle throttle;
    for (const auto at : row.failures)
      throttle.failed("192.0.2.7", t0 + at);
    if (row.succeededAfter) throttle.succeeded("192.0.2.7");
    EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0 + row.askedAt), row.wait) << row.name;
    EXPECT_EQ(waitMs(throttle, "192.0.2.8", t0 + row.askedAt), 0) << row.name;
  }
}

TEST(SignInThrottle, HeldAttemptsGoOneAfterTheOtherAndFewWaitAtOnce) {
  SignInThrottle throttle(100ms);
  for (int i = 0; i < SignInThrottle::kFailuresBeforeHold; ++i)
    throttle.failed("192.0.2.7", t0);
  {
    std::vector<SignInThrottle::Ticket> line;
    for (std::size_t i = 0; i < SignInThrottle::kMaxWaitingPerAddress; ++i) {
      line.push_back(*throttle.admit("192.0.2.7", t0));
      EXPECT_EQ(line.back().wait(), Duration(100ms) * static_cast<int>(i + 1));
    }
    EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), -1);
    EXPECT_EQ(throttle.waitingCount(), SignInThrottle::kMaxWaitingPerAddress);
    // A newcomer that waits behind the line: the last one is checked 400 ms from now.
    line.erase(line.begin());
    EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0 + 50ms), 450);
  }
  EXPECT_EQ(throttle.waitingCount(), 0u);
  // Once the line has been checked, the next waits one hold again.
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0 + 1s), 100);
  // Counted for monitoring: the failures, and every attempt held (the dropped one too); an
  // attempt let straight through is not held.
  EXPECT_EQ(waitMs(throttle, "192.0.2.8", t0 + 1s), 0);
  EXPECT_EQ(throttle.failures(), static_cast<std::uint64_t>(SignInThrottle::kFailuresBeforeHold));
  EXPECT_EQ(throttle.held(), SignInThrottle::kMaxWaitingPerAddress + 3);
}

TEST(SignInThrottle, FailuresSpreadOverAddressesAndNetworksAreHeldToTheOverallPace) {
  constexpr SignInThrottle::Pace overall = SignInThrottle::kOverallPace;
  SignInThrottle throttle;
  // One failure each from as many networks as the burst lets through at once.
  for (int i = 0; i < overall.burst; ++i)
    throttle.failed("10." + std::to_string(i) + ".0.1", t0);
  // Anyone else then waits a pace, and the next one more; each is checked a pace after the other,
  // until waiting would take longer than anyone should: those are dropped.
  std::vector<SignInThrottle::Ticket> line;
  for (int i = 1;; ++i) {
    std::optional<SignInThrottle::Ticket> ticket =
        throttle.admit("172.16." + std::to_string(i) + ".1", t0);
    if (!ticket) {
      EXPECT_GT(overall.interval * i, SignInThrottle::kMaxWait) << i;
      break;
    }
    ASSERT_LE(i, 100);
    EXPECT_EQ(ticket->wait(), overall.interval * i) << i;
    line.push_back(std::move(*ticket));
  }
  EXPECT_EQ(throttle.waitingCount(), line.size());
  // A turn given back is taken by the next newcomer.
  line.erase(line.begin() + 2);
  EXPECT_EQ(waitMs(throttle, "172.17.0.1", t0), 3 * overall.interval / 1ms);
  line.clear();
  // An address that signed in before is not held by anyone else's failures.
  throttle.succeeded("192.0.2.7");
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), 0);
  // Failures paid off at the pace leave room again.
  EXPECT_EQ(waitMs(throttle, "172.18.0.1", t0 + overall.interval * overall.burst), 0);
}

TEST(SignInThrottle, OneNetworkIsHeldToItsOwnPaceWhateverAddressesItUses) {
  constexpr SignInThrottle::Pace network = SignInThrottle::kNetworkPace;
  static_assert(network.burst < SignInThrottle::kOverallPace.burst);
  SignInThrottle throttle;
  for (int i = 0; i < network.burst; ++i) {
    // Appended, not "literal" + string: g++ 12 warns of an overlap that is not there (-Wrestrict).
    std::string address = "198.51.100.";
    address += std::to_string(i);
    throttle.failed(address, t0);
  }
  {
    const std::optional<SignInThrottle::Ticket> first = throttle.admit("198.51.100.201", t0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->wait(), network.interval);
    // Its attempts are checked a pace apart, from whichever address.
    EXPECT_EQ(waitMs(throttle, "198.51.100.202", t0), 2 * network.interval / 1ms);
  }
  EXPECT_EQ(waitMs(throttle, "198.51.101.1", t0), 0);
  EXPECT_EQ(waitMs(throttle, "198.51.100.203", t0 + network.interval * network.burst), 0);

  // IPv6 peers share the budget of their /64; an IPv4 address written the IPv6 way is itself.
  const struct {
    const char* peer;
    const char* network;
  } rows[] = {
      {"192.0.2.7", "192.0.2"},
      {"2001:db8:0:1:aaaa::1", "2001:db8:0:1"},
      {"2001:db8::1", "2001:db8:0:0"},
      {"::ffff:192.0.2.7", "192.0.2"},
      {"not an address", "not an address"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(SignInThrottle::networkOf(row.peer), row.network) << row.peer;
}

TEST(SignInThrottle, AnAddressThatSignedInBeforeIsHeldByItsOwnFailuresOnly) {
  SignInThrottle throttle;
  throttle.succeeded("192.0.2.7");
  // Guessing from its own network and from everywhere else spends every other budget.
  for (int i = 0; i < 200; ++i) {
    throttle.failed("192.0.2." + std::to_string(100 + i % 100), t0);
    throttle.failed("10." + std::to_string(i) + ".0.1", t0);
  }
  EXPECT_EQ(waitMs(throttle, "192.0.2.8", t0), -1);
  EXPECT_EQ(waitMs(throttle, "203.0.113.1", t0), -1);
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), 0);

  // Its own mistakes slow it as any address, in a line of its own that guessers cannot fill.
  for (int i = 0; i < SignInThrottle::kFailuresBeforeHold; ++i)
    throttle.failed("192.0.2.7", t0);
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), 1000);
  // A stream of addresses that fail once each pushes out none that keeps failing.
  for (std::size_t i = 0; i < 2 * SignInThrottle::kMaxAddresses; ++i)
    throttle.failed("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250), t0);
  EXPECT_EQ(throttle.addressCount(), SignInThrottle::kMaxAddresses);
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0 + 1s), 1000);

  // Only the last addresses that signed in are remembered.
  for (std::size_t i = 0; i < SignInThrottle::kMaxKnownGood; ++i)
    throttle.succeeded("198.18.0." + std::to_string(i));
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), -1);
}

}  // namespace
}  // namespace relaydash
