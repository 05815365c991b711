#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "security/security_clock.hpp"

namespace relaydash {

// A sign-in attempt that is not even queued: too many are already waiting, or it would wait too
// long. Its connection is closed without an answer.
class SignInDropped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Slows password guessing without changing a single answer: an attempt may wait before its
// password is checked, never after. Failed checks are counted three ways:
//  - per peer address: once an address has failed kFailuresBeforeHold times within
//    kFailureWindow, each further attempt from it is held `hold` after the one before, so that it
//    gets one try a second whatever it sends in parallel. A success clears the address;
//  - per network (the /24 of an IPv4 address, the /64 of an IPv6 one): beyond a burst, one
//    failure per kNetworkPace.interval, however many addresses the network uses;
//  - over all peers: beyond a burst, one failure per kOverallPace.interval, however the attempts
//    are spread.
// An attempt waits until every budget it is held by has room, and the attempts held by one budget
// are checked one pace apart. An address that signed in before (one of the last kMaxKnownGood)
// is held by its own failures only and waits in a line of its own: guessing from elsewhere, even
// from its own network, never keeps its operator out.
class SignInThrottle {
 public:
  using TimePoint = SecurityClock::time_point;
  using Duration = SecurityClock::duration;

  // So many failures are let through at once; beyond them, one per interval.
  struct Pace {
    Duration interval;
    int burst;
  };

  static constexpr int kFailuresBeforeHold = 5;
  static constexpr std::chrono::minutes kFailureWindow{15};
  static constexpr std::chrono::seconds kHold{1};
  static constexpr Pace kNetworkPace{std::chrono::seconds(1), 10};
  static constexpr Pace kOverallPace{std::chrono::milliseconds(500), 20};
  // The addresses whose failures are kept. A full table makes room by forgetting an address that
  // is not slowed; only when every one is slowed, the one used least recently. Within a window
  // the overall pace lets fewer addresses be slowed than this.
  static constexpr std::size_t kMaxAddresses = 4096;
  // Networks share kNetworkSlots budgets by a hash of their prefix: one that shares with a
  // guessing network is slowed with it, never freed by it.
  static constexpr std::size_t kNetworkSlots = 1024;
  static constexpr std::size_t kMaxKnownGood = 32;
  // Held attempts waiting at once, from one address and from all; attempts from addresses that
  // signed in before have kMaxWaitingKnownGood places of their own. A waiting attempt holds a
  // connection that cannot be closed to make room for others, so a peer that sends on thousands
  // of connections has all but these few dropped: neither memory nor descriptors grow with its
  // connections. One that would wait longer than kMaxWait is dropped too.
  static constexpr std::size_t kMaxWaitingPerAddress = 4;
  static constexpr std::size_t kMaxWaiting = 64;
  static constexpr std::size_t kMaxWaitingKnownGood = 16;
  static constexpr std::chrono::seconds kMaxWait{8};
  static_assert(kMaxWaiting < kMaxAddresses, "some address has no waiting attempt to keep");
  static_assert(kOverallPace.interval * kOverallPace.burst < kFailureWindow);

 private:
  struct Entry;

 public:
  // An attempt's place in line: how long it waits before it is checked. It keeps its address in
  // the table and its turn in the lines until it goes, which it must do before the throttle does.
  // Move-only.
  class Ticket {
   public:
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    Ticket(Ticket&& other) noexcept
        : throttle_(other.throttle_),
          entry_(std::exchange(other.entry_, nullptr)),
          wait_(other.wait_),
          overallTurn_(other.overallTurn_),
          knownGood_(other.knownGood_) {}
    Ticket& operator=(Ticket&& other) noexcept {
      if (this != &other) {
        release();
        throttle_ = other.throttle_;
        entry_ = std::exchange(other.entry_, nullptr);
        wait_ = other.wait_;
        overallTurn_ = other.overallTurn_;
        knownGood_ = other.knownGood_;
      }
      return *this;
    }
    ~Ticket() { release(); }

    Duration wait() const noexcept { return wait_; }

   private:
    friend class SignInThrottle;
    Ticket(SignInThrottle* throttle, Entry* entry, Duration wait,
           std::optional<TimePoint> overallTurn, bool knownGood) noexcept
        : throttle_(throttle),
          entry_(entry),
          wait_(wait),
          overallTurn_(overallTurn),
          knownGood_(knownGood) {}
    void release() noexcept;

    SignInThrottle* throttle_;
    Entry* entry_;  // null for an attempt that is not held
    Duration wait_;
    std::optional<TimePoint> overallTurn_;  // its turn in the overall line, if it holds one
    bool knownGood_;
  };

  explicit SignInThrottle(Duration hold = kHold) noexcept : hold_(hold) {}
  SignInThrottle(const SignInThrottle&) = delete;
  SignInThrottle& operator=(const SignInThrottle&) = delete;

  // The place of an attempt from peer that arrives at now: no wait while no budget holds it,
  // else until each that does has room. nullopt when too many attempts wait already, or when it
  // would wait longer than kMaxWait.
  std::optional<Ticket> admit(std::string_view peer, TimePoint now);
  void failed(std::string_view peer, TimePoint now);
  // Clears the address and counts it among those that signed in before.
  void succeeded(std::string_view peer);

  // The network an address belongs to, as the budgets see it: "192.0.2" for "192.0.2.7", the
  // first four groups of an IPv6 address written out ("2001:db8:0:1"); text that is no address
  // is its own network.
  static std::string networkOf(std::string_view peer);

  // For tests: the hold, and how much the table holds.
  void setHold(Duration hold) noexcept { hold_ = hold; }
  std::size_t addressCount() const noexcept { return entries_.size(); }
  std::size_t waitingCount() const noexcept { return waiting_ + waitingKnownGood_; }

  // Since start: failed password checks, and attempts held (made to wait, or dropped).
  std::uint64_t failures() const noexcept { return failures_; }
  std::uint64_t held() const noexcept { return held_; }

 private:
  struct Entry {
    std::string peer;
    // The last failures, a ring: `next` is where the next goes, and the oldest once it is full.
    std::array<TimePoint, kFailuresBeforeHold> failures{};
    int failureCount = 0;
    int next = 0;
    // When the attempt from here that waits longest will be checked.
    TimePoint heldUntil{};
    std::size_t waiting = 0;
  };
  using Entries = std::list<Entry>;

  // A budget of failures: `debt` is when the failures so far are paid off at the pace, and
  // `nextTurn` when the next attempt it holds may be checked.
  struct Budget {
    TimePoint debt{};
    TimePoint nextTurn{};
  };

  Entry* find(std::string_view peer);
  Entry& findOrAdd(std::string_view peer, TimePoint now);
  void makeRoom(TimePoint now);
  static bool slowed(const Entry& entry, TimePoint now) noexcept;
  Budget& networkBudget(std::string_view peer);
  bool knownGood(std::string_view peer) const noexcept;
  // The first time from `from` on that is a pace away from every turn the overall line gives.
  TimePoint overallTurnFrom(TimePoint from) const;

  Duration hold_;
  std::uint64_t failures_ = 0;
  std::uint64_t held_ = 0;
  std::size_t waiting_ = 0;
  std::size_t waitingKnownGood_ = 0;
  Entries entries_;  // most recently used first
  // Keys view the peer text inside the entries, which a list never moves.
  std::unordered_map<std::string_view, Entries::iterator> byPeer_;
  // Made on the first failure: an idle gateway does not carry it.
  std::unique_ptr<std::array<Budget, kNetworkSlots>> networks_;
  Budget overall_;
  std::vector<TimePoint> overallTurns_;  // of the attempts waiting in the overall line
  std::vector<std::string> knownGood_;   // least recently signed in first
};

}  // namespace relaydash
