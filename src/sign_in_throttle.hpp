#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "security_clock.hpp"

namespace relaydash {

// A sign-in attempt that is not even queued: too many from its address, or from all slowed
// addresses together, are already waiting. Its connection is closed without an answer.
class SignInDropped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Slows password guessing without changing a single answer. Failed sign-ins are counted per
// peer address; once an address has failed kFailuresBeforeHold times within kFailureWindow,
// each further attempt from it is held for `hold` before it is checked, one after the other, so
// that it gets one try a second whatever it sends in parallel. A success clears the address.
// The table keeps the addresses used most recently, at most kMaxAddresses; an address that had
// to go is not slowed until it fails again.
class SignInThrottle {
 public:
  using TimePoint = SecurityClock::time_point;
  using Duration = SecurityClock::duration;

  static constexpr int kFailuresBeforeHold = 5;
  static constexpr std::chrono::minutes kFailureWindow{15};
  static constexpr std::chrono::seconds kHold{1};
  static constexpr std::size_t kMaxAddresses = 4096;
  // Held attempts waiting at once, from one address and from all. A waiting attempt holds a
  // connection that cannot be closed to make room for others, so a peer that sends on thousands
  // of connections has all but these few dropped: neither memory nor descriptors grow with its
  // connections, and no answer comes more than a few seconds late.
  static constexpr std::size_t kMaxWaitingPerAddress = 4;
  static constexpr std::size_t kMaxWaiting = 64;
  static_assert(kMaxWaiting < kMaxAddresses, "some address has no waiting attempt to keep");

 private:
  struct Entry;

 public:
  // An attempt's place in line: how long it waits before it is checked. It keeps its address in
  // the table until it goes, which it must do before the throttle does. Move-only.
  class Ticket {
   public:
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    Ticket(Ticket&& other) noexcept
        : throttle_(other.throttle_),
          entry_(std::exchange(other.entry_, nullptr)),
          wait_(other.wait_) {}
    Ticket& operator=(Ticket&& other) noexcept {
      if (this != &other) {
        release();
        throttle_ = other.throttle_;
        entry_ = std::exchange(other.entry_, nullptr);
        wait_ = other.wait_;
      }
      return *this;
    }
    ~Ticket() { release(); }

    Duration wait() const noexcept { return wait_; }

   private:
    friend class SignInThrottle;
    Ticket(SignInThrottle* throttle, Entry* entry, Duration wait) noexcept
        : throttle_(throttle), entry_(entry), wait_(wait) {}
    void release() noexcept;

    SignInThrottle* throttle_;
    Entry* entry_;  // null for an attempt that is not held
    Duration wait_;
  };

  explicit SignInThrottle(Duration hold = kHold) noexcept : hold_(hold) {}
  SignInThrottle(const SignInThrottle&) = delete;
  SignInThrottle& operator=(const SignInThrottle&) = delete;

  // The place of an attempt from peer that arrives at now: no wait while the address is not
  // slowed, else `hold` after the attempt from it that is checked last. nullopt when too many
  // attempts wait already.
  std::optional<Ticket> admit(std::string_view peer, TimePoint now);
  void failed(std::string_view peer, TimePoint now);
  void succeeded(std::string_view peer);

  // For tests: the hold, and how much the table holds.
  void setHold(Duration hold) noexcept { hold_ = hold; }
  std::size_t addressCount() const noexcept { return entries_.size(); }
  std::size_t waitingCount() const noexcept { return waiting_; }

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

  Entry* find(std::string_view peer);
  Entry& findOrAdd(std::string_view peer);
  void makeRoom();
  static bool slowed(const Entry& entry, TimePoint now) noexcept;

  Duration hold_;
  std::size_t waiting_ = 0;
  Entries entries_;  // most recently used first
  // Keys view the peer text inside the entries, which a list never moves.
  std::unordered_map<std::string_view, Entries::iterator> byPeer_;
};

}  // namespace relaydash
