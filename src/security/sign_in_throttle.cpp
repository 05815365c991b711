#include "security/sign_in_throttle.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace relaydash {
namespace {

using TimePoint = SignInThrottle::TimePoint;
using Pace = SignInThrottle::Pace;

// The time from which the failures a budget holds leave room for one more: a burst's worth
// before they are paid off.
TimePoint roomFrom(TimePoint debt, const Pace& pace) noexcept {
  return debt - pace.interval * (pace.burst - 1);
}

// A failure adds one interval to what the budget has to pay off.
void charge(TimePoint& debt, const Pace& pace, TimePoint now) noexcept {
  debt = std::max(debt, now) + pace.interval;
}

std::uint64_t fnv1a(std::string_view text) noexcept {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

void SignInThrottle::Ticket::release() noexcept {
  if (entry_ == nullptr) return;
  --entry_->waiting;
  --(knownGood_ ? throttle_->waitingKnownGood_ : throttle_->waiting_);
  if (overallTurn_) {
    std::vector<TimePoint>& turns = throttle_->overallTurns_;
    const auto turn = std::find(turns.begin(), turns.end(), *overallTurn_);
    if (turn != turns.end()) turns.erase(turn);
  }
  entry_ = nullptr;
}

std::optional<SignInThrottle::Ticket> SignInThrottle::admit(std::string_view peer, TimePoint now) {
  const bool known = knownGood(peer);
  Entry* entry = find(peer);
  TimePoint at = now;
  // The attempts of a slowed address are checked one at a time, each `hold` after the one before.
  const bool addressHeld = entry != nullptr && slowed(*entry, now);
  if (addressHeld) at = std::max(now, entry->heldUntil) + hold_;
  Budget* network = nullptr;
  bool overallHeld = false;
  if (!known && networks_) {
    Budget& budget = networkBudget(peer);
    if (roomFrom(budget.debt, kNetworkPace) > now) {
      network = &budget;
      at = std::max({at, budget.nextTurn, roomFrom(budget.debt, kNetworkPace)});
    }
  }
  if (!known && roomFrom(overall_.debt, kOverallPace) > now) {
    overallHeld = true;
    at = overallTurnFrom(std::max(at, roomFrom(overall_.debt, kOverallPace)));
  }
  if (!addressHeld && network == nullptr && !overallHeld) {
    return Ticket(this, nullptr, Duration::zero(), std::nullopt, known);
  }
  ++held_;

  std::size_t& lineWaiting = known ? waitingKnownGood_ : waiting_;
  if (at - now > kMaxWait || lineWaiting >= (known ? kMaxWaitingKnownGood : kMaxWaiting) ||
      (entry != nullptr && entry->waiting >= kMaxWaitingPerAddress)) {
    return std::nullopt;
  }
  Entry& held = entry != nullptr ? *entry : findOrAdd(peer, now);
  held.heldUntil = std::max(held.heldUntil, at);
  ++held.waiting;
  ++lineWaiting;
  if (network != nullptr) network->nextTurn = at + kNetworkPace.interval;
  if (overallHeld) {
    overallTurns_.insert(std::lower_bound(overallTurns_.begin(), overallTurns_.end(), at), at);
  }
  return Ticket(this, &held, at - now, overallHeld ? std::optional<TimePoint>(at) : std::nullopt,
                known);
}

void SignInThrottle::failed(std::string_view peer, TimePoint now) {
  ++failures_;
  Entry& entry = findOrAdd(peer, now);
  entry.failures[static_cast<std::size_t>(entry.next)] = now;
  entry.next = (entry.next + 1) % kFailuresBeforeHold;
  entry.failureCount = std::min(entry.failureCount + 1, kFailuresBeforeHold);
  charge(networkBudget(peer).debt, kNetworkPace, now);
  charge(overall_.debt, kOverallPace, now);
}

void SignInThrottle::succeeded(std::string_view peer) {
  const auto known = std::find(knownGood_.begin(), knownGood_.end(), peer);
  if (known != knownGood_.end()) {
    std::rotate(known, known + 1, knownGood_.end());
  } else {
    if (knownGood_.size() >= kMaxKnownGood) knownGood_.erase(knownGood_.begin());
    knownGood_.emplace_back(peer);
  }

  const auto found = byPeer_.find(peer);
  if (found == byPeer_.end()) return;
  const Entries::iterator entry = found->second;
  // Attempts still in line keep their entry; they are checked at their time all the same.
  if (entry->waiting > 0) {
    entry->failureCount = 0;
    return;
  }
  byPeer_.erase(found);
  entries_.erase(entry);
}

std::string SignInThrottle::networkOf(std::string_view peer) {
  const std::string text(peer);
  unsigned char bytes[16];
  if (::inet_pton(AF_INET, text.c_str(), bytes) == 1) {
    char network[16];
    std::snprintf(network, sizeof network, "%u.%u.%u", bytes[0], bytes[1], bytes[2]);
    return network;
  }
  if (::inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
    static constexpr unsigned char kMappedIpv4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(bytes, bytes + 12, kMappedIpv4)) {
      char network[16];
      std::snprintf(network, sizeof network, "%u.%u.%u", bytes[12], bytes[13], bytes[14]);
      return network;
    }
    char network[24];
    std::snprintf(network, sizeof network, "%x:%x:%x:%x", bytes[0] << 8 | bytes[1],
                  bytes[2] << 8 | bytes[3], bytes[4] << 8 | bytes[5], bytes[6] << 8 | bytes[7]);
    return network;
  }
  return text;
}

SignInThrottle::Entry* SignInThrottle::find(std::string_view peer) {
  const auto found = byPeer_.find(peer);
  if (found == byPeer_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return &entries_.front();
}

SignInThrottle::Entry& SignInThrottle::findOrAdd(std::string_view peer, TimePoint now) {
  if (Entry* entry = find(peer)) return *entry;
  if (entries_.size() >= kMaxAddresses) makeRoom(now);
  Entry& entry = entries_.emplace_front();
  entry.peer = peer;
  byPeer_.emplace(entry.peer, entries_.begin());
  return entry;
}

void SignInThrottle::makeRoom(TimePoint now) {
  // The least recently used address that is neither slowed nor has an attempt waiting; when every
  // one is slowed, the least recently used without a waiting attempt. So a stream of addresses
  // that fail once never pushes out one that keeps failing. With at most kMaxWaiting (and
  // kMaxWaitingKnownGood) waiting, there is always one to go.
  auto victim = entries_.end();
  for (auto entry = entries_.end(); entry != entries_.begin();) {
    --entry;
    if (entry->waiting > 0) continue;
    if (!slowed(*entry, now)) {
      victim = entry;
      break;
    }
    if (victim == entries_.end()) victim = entry;
  }
  if (victim == entries_.end()) return;
  byPeer_.erase(victim->peer);
  entries_.erase(victim);
}

bool SignInThrottle::slowed(const Entry& entry, TimePoint now) noexcept {
  if (entry.failureCount < kFailuresBeforeHold) return false;
  const TimePoint oldest = entry.failures[static_cast<std::size_t>(entry.next)];
  return now - oldest < kFailureWindow;
}

SignInThrottle::Budget& SignInThrottle::networkBudget(std::string_view peer) {
  if (!networks_) networks_ = std::make_unique<std::array<Budget, kNetworkSlots>>();
  return (*networks_)[fnv1a(networkOf(peer)) % kNetworkSlots];
}

bool SignInThrottle::knownGood(std::string_view peer) const noexcept {
  return std::find(knownGood_.begin(), knownGood_.end(), peer) != knownGood_.end();
}

SignInThrottle::TimePoint SignInThrottle::overallTurnFrom(TimePoint from) const {
  // The turns are in order: move past each that is too close until a gap is found.
  TimePoint at = from;
  for (const TimePoint turn : overallTurns_) {
    if (turn + kOverallPace.interval <= at) continue;
    if (turn >= at + kOverallPace.interval) break;
    at = turn + kOverallPace.interval;
  }
  return at;
}

}  // namespace relaydash
