#include "transport/connection_registry.hpp"

namespace relaydash {

TrackedConnection::TrackedConnection(ConnectionRegistry& registry, Socket& socket) noexcept
    : registry_(registry), socket_(socket) {
  registry_.append(*this);
}

TrackedConnection::~TrackedConnection() {
  registry_.releaseHead(*this);
  if (ending_ == Ending::None) registry_.remove(*this);
}

bool TrackedConnection::chargeHeadOverTotal(std::size_t bytes) noexcept {
  ConnectionRegistry& r = registry_;
  const std::size_t wanted = headBytes_ + bytes;
  while (r.headBytes_ + bytes > r.maxHeadBytesInTotal_) {
    TrackedConnection* other = r.largestHeadBesides(*this);
    if (!other || other->headBytes_ <= wanted) return false;
    // Ending it runs its coroutine to its answer; this connection is not touched meanwhile.
    r.end(*other, Ending::Refused);
  }
  headBytes_ = wanted;
  r.headBytes_ += bytes;
  return true;
}

ConnectionRegistry::ConnectionRegistry(std::size_t maxHeadBytes, std::size_t maxHeadBytesInTotal)
    : maxHeadBytes_(maxHeadBytes), maxHeadBytesInTotal_(maxHeadBytesInTotal) {}

bool ConnectionRegistry::canReclaim() const noexcept {
  return queues_[index(ConnectionState::Idle)].first || queues_[index(ConnectionState::Head)].first;
}

bool ConnectionRegistry::reclaimOne() noexcept {
  TrackedConnection* victim = queues_[index(ConnectionState::Idle)].first;
  if (!victim) victim = queues_[index(ConnectionState::Head)].first;
  if (!victim) return false;
  end(*victim, TrackedConnection::Ending::Reclaimed);
  return true;
}

TrackedConnection* ConnectionRegistry::largestHeadBesides(
    const TrackedConnection& connection) const noexcept {
  // Only reached when the heads together are over their limit, so a walk is cheap enough.
  TrackedConnection* largest = nullptr;
  for (TrackedConnection* c = queues_[index(ConnectionState::Head)].first; c; c = c->next_) {
    if (c != &connection && (!largest || c->headBytes_ > largest->headBytes_)) largest = c;
  }
  return largest;
}

void ConnectionRegistry::end(TrackedConnection& connection,
                             TrackedConnection::Ending why) noexcept {
  // Everything about it is settled before its coroutine runs: that may destroy it.
  releaseHead(connection);
  remove(connection);
  connection.ending_ = why;
  connection.socket_.interrupt();
}

}  // namespace relaydash
