#pragma once

#include <cstddef>

#include "runtime/socket.hpp"
#include "transport/limits.hpp"

namespace relaydash {

// What a connection is doing, as far as making room for others is concerned.
enum class ConnectionState {
  Idle,  // kept alive after a request; nothing of the next one has arrived
  Head,  // just accepted, or receiving a request line and headers
  Busy,  // reading a body, waiting for the request's procedure, or answering
};

class ConnectionRegistry;

// One open connection as its server sees it: its state, and the bytes its unfinished head
// holds. It lives in the connection's coroutine frame and is registered from construction to
// destruction. Neither copyable nor movable: the registry links it by address.
class TrackedConnection {
 public:
  // Starts in Head: a connection that has sent nothing has not completed a head either.
  TrackedConnection(ConnectionRegistry& registry, Socket& socket) noexcept;
  TrackedConnection(const TrackedConnection&) = delete;
  TrackedConnection& operator=(const TrackedConnection&) = delete;
  ~TrackedConnection();

  ConnectionState state() const noexcept { return state_; }
  // Moves the connection to the back of the state's queue, so each queue is ordered by how
  // long its connections have been in that state; the same state keeps the place. Leaving
  // Head releases the head's bytes. Does nothing once the registry has ended the connection.
  void enter(ConnectionState state) noexcept;

  // Adds bytes to what the unfinished head holds. False when this head must be refused: it
  // would go past the limit of one head, or past the limit of all unfinished heads together
  // while it is the largest of them. When another head is the largest, that connection is
  // refused instead (see refused()) and this one goes on.
  bool chargeHead(std::size_t bytes) noexcept;
  std::size_t headBytes() const noexcept { return headBytes_; }

  // The registry ended the connection to make room: its socket was interrupted, so its reads
  // now see end of stream. A refused connection should give the answer to a refused head.
  bool reclaimed() const noexcept { return ending_ == Ending::Reclaimed; }
  bool refused() const noexcept { return ending_ == Ending::Refused; }

 private:
  friend class ConnectionRegistry;
  enum class Ending { None, Reclaimed, Refused };

  // chargeHead when the heads together would go past their limit.
  bool chargeHeadOverTotal(std::size_t bytes) noexcept;

  ConnectionRegistry& registry_;
  Socket& socket_;
  ConnectionState state_ = ConnectionState::Head;
  Ending ending_ = Ending::None;
  std::size_t headBytes_ = 0;
  TrackedConnection* previous_ = nullptr;
  TrackedConnection* next_ = nullptr;
};

// The open connections of one server: the idle ones and those reading a head each in a queue,
// the busy ones only counted. Frees room on demand: at the descriptor ceiling by closing the
// connection that is best spared, and when unfinished heads hold too much memory by refusing
// the largest. Must outlive its connections.
class ConnectionRegistry {
 public:
  explicit ConnectionRegistry(std::size_t maxHeadBytes = limits::kMaxHeadBytes,
                              std::size_t maxHeadBytesInTotal = limits::kMaxHeadBytesInTotal);
  ConnectionRegistry(const ConnectionRegistry&) = delete;
  ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

  // True when some connection waits for its next request or has not completed its head.
  bool canReclaim() const noexcept;
  // Ends the connection idle longest, or else the one that has been reading its head longest:
  // it is taken out of the registry and its socket interrupted, so the connection's coroutine
  // sees end of stream and closes (normally before this returns). A connection reading a
  // body, waiting for its procedure or answering is never chosen. False when none can be.
  bool reclaimOne() noexcept;

  std::size_t count(ConnectionState state) const noexcept { return queues_[index(state)].size; }
  // The bytes all unfinished heads hold together.
  std::size_t headBytes() const noexcept { return headBytes_; }

 private:
  friend class TrackedConnection;
  struct Queue {
    TrackedConnection* first = nullptr;
    TrackedConnection* last = nullptr;
    std::size_t size = 0;
  };
  static std::size_t index(ConnectionState state) noexcept {
    return static_cast<std::size_t>(state);
  }

  void append(TrackedConnection& connection) noexcept;
  void remove(TrackedConnection& connection) noexcept;
  void releaseHead(TrackedConnection& connection) noexcept;
  // The other connection whose unfinished head holds the most bytes, or nullptr.
  TrackedConnection* largestHeadBesides(const TrackedConnection& connection) const noexcept;
  void end(TrackedConnection& connection, TrackedConnection::Ending why) noexcept;

  Queue queues_[3];
  std::size_t headBytes_ = 0;
  std::size_t maxHeadBytes_;
  std::size_t maxHeadBytesInTotal_;
};

// Every request passes through these a few times: defined here so they are inlined.

inline void ConnectionRegistry::append(TrackedConnection& connection) noexcept {
  Queue& queue = queues_[index(connection.state_)];
  ++queue.size;
  // Busy connections are never chosen, so their order does not matter: they are only counted.
  if (connection.state_ == ConnectionState::Busy) return;
  connection.previous_ = queue.last;
  connection.next_ = nullptr;
  (queue.last ? queue.last->next_ : queue.first) = &connection;
  queue.last = &connection;
}

inline void ConnectionRegistry::remove(TrackedConnection& connection) noexcept {
  Queue& queue = queues_[index(connection.state_)];
  --queue.size;
  if (connection.state_ == ConnectionState::Busy) return;
  (connection.previous_ ? connection.previous_->next_ : queue.first) = connection.next_;
  (connection.next_ ? connection.next_->previous_ : queue.last) = connection.previous_;
  connection.previous_ = connection.next_ = nullptr;
}

inline void ConnectionRegistry::releaseHead(TrackedConnection& connection) noexcept {
  headBytes_ -= connection.headBytes_;
  connection.headBytes_ = 0;
}

inline void TrackedConnection::enter(ConnectionState state) noexcept {
  if (ending_ != Ending::None || state == state_) return;
  if (state_ == ConnectionState::Head) registry_.releaseHead(*this);
  registry_.remove(*this);
  state_ = state;
  registry_.append(*this);
}

inline bool TrackedConnection::chargeHead(std::size_t bytes) noexcept {
  ConnectionRegistry& r = registry_;
  if (ending_ != Ending::None || headBytes_ + bytes > r.maxHeadBytes_) return false;
  if (r.headBytes_ + bytes > r.maxHeadBytesInTotal_) return chargeHeadOverTotal(bytes);
  headBytes_ += bytes;
  r.headBytes_ += bytes;
  return true;
}

}  // namespace relaydash
