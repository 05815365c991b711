#include "sign_in_throttle.hpp"

#include <algorithm>

namespace relaydash {

void SignInThrottle::Ticket::release() noexcept {
  if (entry_ == nullptr) return;
  --entry_->waiting;
  --throttle_->waiting_;
  entry_ = nullptr;
}

std::optional<SignInThrottle::Ticket> SignInThrottle::admit(std::string_view peer, TimePoint now) {
  Entry* entry = find(peer);
  if (entry == nullptr || !slowed(*entry, now)) return Ticket(this, nullptr, Duration::zero());
  if (entry->waiting >= kMaxWaitingPerAddress || waiting_ >= kMaxWaiting) return std::nullopt;
  // The attempts of one address are checked one at a time, each `hold` after the one before.
  const TimePoint checkAt = std::max(now, entry->heldUntil) + hold_;
  entry->heldUntil = checkAt;
  ++entry->waiting;
  ++waiting_;
  return Ticket(this, entry, checkAt - now);
}

void SignInThrottle::failed(std::string_view peer, TimePoint now) {
  Entry& entry = findOrAdd(peer);
  entry.failures[static_cast<std::size_t>(entry.next)] = now;
  entry.next = (entry.next + 1) % kFailuresBeforeHold;
  entry.failureCount = std::min(entry.failureCount + 1, kFailuresBeforeHold);
}

void SignInThrottle::succeeded(std::string_view peer) {
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

SignInThrottle::Entry* SignInThrottle::find(std::string_view peer) {
  const auto found = byPeer_.find(peer);
  if (found == byPeer_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return &entries_.front();
}

SignInThrottle::Entry& SignInThrottle::findOrAdd(std::string_view peer) {
  if (Entry* entry = find(peer)) return *entry;
  if (entries_.size() >= kMaxAddresses) makeRoom();
  Entry& entry = entries_.emplace_front();
  entry.peer = peer;
  byPeer_.emplace(entry.peer, entries_.begin());
  return entry;
}

void SignInThrottle::makeRoom() {
  // The least recently used address that has no attempt waiting: with at most kMaxWaiting
  // waiting, one is found within that many steps from the end.
  for (auto entry = entries_.end(); entry != entries_.begin();) {
    --entry;
    if (entry->waiting > 0) continue;
    byPeer_.erase(entry->peer);
    entries_.erase(entry);
    return;
  }
}

bool SignInThrottle::slowed(const Entry& entry, TimePoint now) noexcept {
  if (entry.failureCount < kFailuresBeforeHold) return false;
  const TimePoint oldest = entry.failures[static_cast<std::size_t>(entry.next)];
  return now - oldest < kFailureWindow;
}

}  // namespace relaydash
