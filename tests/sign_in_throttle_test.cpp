#include "sign_in_throttle.hpp"

#include <gtest/gtest.h>

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
  const auto slow = [&](const std::string& peer) {
    for (int i = 0; i < SignInThrottle::kFailuresBeforeHold; ++i)
      throttle.failed(peer, t0);
  };
  slow("192.0.2.7");
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

  // Across addresses, only so many wait at once; an address that is not slowed never waits.
  std::vector<SignInThrottle::Ticket> waiting;
  for (int a = 0; waiting.size() < SignInThrottle::kMaxWaiting; ++a) {
    const std::string peer = "198.51.100." + std::to_string(a);
    slow(peer);
    while (auto ticket = throttle.admit(peer, t0)) {
      waiting.push_back(std::move(*ticket));
      if (waiting.size() == SignInThrottle::kMaxWaiting) break;
    }
  }
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0 + 2s), -1);
  EXPECT_EQ(waitMs(throttle, "203.0.113.1", t0 + 2s), 0);
  waiting.pop_back();
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0 + 2s), 100);
}

TEST(SignInThrottle, TheTableKeepsTheAddressesUsedLast) {
  SignInThrottle throttle;
  const auto failMany = [&](const std::string& prefix, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      throttle.failed(prefix + std::to_string(i), t0);
  };
  for (int i = 0; i < SignInThrottle::kFailuresBeforeHold; ++i)
    throttle.failed("192.0.2.7", t0);
  failMany("10.0.", SignInThrottle::kMaxAddresses - 1);
  EXPECT_EQ(throttle.addressCount(), SignInThrottle::kMaxAddresses);
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), 1000);
  // Asking made it the most recently used: newcomers push out all the others first, and then it.
  failMany("10.1.", SignInThrottle::kMaxAddresses - 1);
  EXPECT_EQ(throttle.addressCount(), SignInThrottle::kMaxAddresses);
  failMany("10.2.", 1);
  EXPECT_EQ(waitMs(throttle, "192.0.2.7", t0), 0);

  // An address with an attempt in line is never pushed out.
  for (int i = 0; i < SignInThrottle::kFailuresBeforeHold; ++i)
    throttle.failed("192.0.2.9", t0);
  const std::optional<SignInThrottle::Ticket> held = throttle.admit("192.0.2.9", t0);
  failMany("10.3.", 2 * SignInThrottle::kMaxAddresses);
  EXPECT_EQ(throttle.addressCount(), SignInThrottle::kMaxAddresses);
  EXPECT_EQ(waitMs(throttle, "192.0.2.9", t0), 2000);
}

}  // namespace
}  // namespace relaydash
