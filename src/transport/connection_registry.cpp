#include "transport/connection_registry.hpp"

namespace relaydash {

TrackedConnection::TrackedConnection(ConnectionRegistry& registry, Socket& socket) noexcept
    : registry_(registry), socket_(socket) {
  registry_.append(*this);
}

TrackedConnection::~TrackedConnection() {
  registry_.release(*this);
  if (ending_ == Ending::None) registry_.remove(*this);
}

bool TrackedConnection::holdOverTotal(std::size_t bytes) noexcept {
  ConnectionRegistry& r = registry_;
  while (r.held_ - held_ + bytes > r.maxHeldInTotal_) {
    TrackedConnection* other = r.largestBesides(*this);
    if (!other || other->held_ <= bytes) return false;
    // Ending it runs its coroutine to its answer; this connection is not touched meanwhile.
    r.end(*other, Ending::Refused);
  }
  r.held_ = r.held_ - held_ + bytes;
  held_ = bytes;
  return true;
}

ConnectionRegistry::ConnectionRegistry(std::size_t maxHeldInTotal,
                                       std::chrono::milliseconds stalledAfter)
    : maxHeldInTotal_(maxHeldInTotal), stalledAfter_(stalledAfter) {}

TrackedConnection* ConnectionRegistry::stalledBody(Clock::time_point now) const noexcept {
  TrackedConnection* body = queue(ConnectionState::Body).first;
  return body && now - body->lastProgress_ >= stalledAfter_ ? body : nullptr;
}

TrackedConnection* ConnectionRegistry::stalledSender(Clock::time_point now,
                                                     Clock::time_point before) noexcept {
  // Ordered by when each was last seen moving. Each one seen moving again goes to the back
  // with `now`, past `before`, so the walk meets every sender once at most (twice when
  // `before` is not in the past: the second time it has not moved since the first).
  for (;;) {
    TrackedConnection* sender = queue(ConnectionState::Sending).first;
    if (!sender || sender->lastProgress_ > before) return nullptr;
    if (!sender->socket_.takeWriteProgress()) return sender;
    remove(*sender);
    sender->lastProgress_ = now;
    append(*sender);
  }
}

bool ConnectionRegistry::canReclaim(Clock::time_point now) noexcept {
  return queue(ConnectionState::Idle).first || queue(ConnectionState::Head).first ||
         stalledBody(now) || stalledSender(now, now - stalledAfter_);
}

bool ConnectionRegistry::reclaimOne(Clock::time_point now) noexcept {
  TrackedConnection* victim = queue(ConnectionState::Idle).first;
  if (!victim) victim = queue(ConnectionState::Head).first;
  if (!victim) victim = stalledBody(now);
  if (!victim) victim = stalledSender(now, now - stalledAfter_);
  if (!victim) return false;
  end(*victim, TrackedConnection::Ending::Reclaimed);
  ++reclaimed_;
  return true;
}

std::optional<ConnectionRegistry::Clock::time_point> ConnectionRegistry::endStalledBodies(
    Clock::time_point before, std::chrono::milliseconds limit) noexcept {
  // Ordered by last progress: the stalled ones are at the front.
  for (;;) {
    TrackedConnection* body = queue(ConnectionState::Body).first;
    if (!body) return std::nullopt;
    if (body->lastProgress_ > before) return body->lastProgress_ + limit;
    end(*body, TrackedConnection::Ending::Reclaimed);
  }
}

std::optional<ConnectionRegistry::Clock::time_point> ConnectionRegistry::endStalledSenders(
    Clock::time_point now, Clock::time_point before, std::chrono::milliseconds limit) noexcept {
  while (TrackedConnection* sender = stalledSender(now, before))
    end(*sender, TrackedConnection::Ending::Reclaimed);
  const TrackedConnection* oldest = queue(ConnectionState::Sending).first;
  if (!oldest) return std::nullopt;
  return oldest->lastProgress_ + limit;
}

TrackedConnection* ConnectionRegistry::largestBesides(
    const TrackedConnection& connection) const noexcept {
  // Only reached when the requests together are over their limit, so a walk is cheap enough.
  TrackedConnection* largest = nullptr;
  for (const ConnectionState state : {ConnectionState::Head, ConnectionState::Body}) {
    for (TrackedConnection* c = queue(state).first; c; c = c->next_) {
      if (c != &connection && (!largest || c->held_ > largest->held_)) largest = c;
    }
  }
  return largest;
}

void ConnectionRegistry::end(TrackedConnection& connection,
                             TrackedConnection::Ending why) noexcept {
  // Everything about it is settled before its coroutine runs: that may destroy it.
  release(connection);
  remove(connection);
  connection.ending_ = why;
  connection.socket_.interrupt();
}

}  // namespace relaydash
