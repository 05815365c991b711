#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "runtime/socket.hpp"
#include "transport/limits.hpp"

namespace relaydash {

// What a connection is doing, as far as making room for others is concerned.
enum class ConnectionState : unsigned char {
  Idle,     // kept alive after a request; nothing of the next one has arrived
  Head,     // just accepted, or receiving a request line and headers
  Body,     // receiving a request's body
  Busy,     // waiting for the request's procedure, or answering as fast as the peer takes it
  Sending,  // an answer waits for the peer to take what the socket holds
};

class ConnectionRegistry;

// One open connection as its server sees it: its state, and the memory its request in hand
// holds. It lives in the connection's coroutine frame and is registered from construction to
// destruction. Neither copyable nor movable: the registry links it by address.
class TrackedConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts in Head: a connection that has sent nothing has not completed a head either.
  TrackedConnection(ConnectionRegistry& registry, Socket& socket) noexcept;
  TrackedConnection(const TrackedConnection&) = delete;
  TrackedConnection& operator=(const TrackedConnection&) = delete;
  ~TrackedConnection();

  ConnectionState state() const noexcept { return state_; }
  // Moves the connection to the back of the state's queue, so each queue is ordered by how
  // long its connections have been in that state; the same state keeps the place. Entering
  // Body takes `now` as the time of its last progress. Does nothing once the registry has
  // ended the connection.
  void enter(ConnectionState state, Clock::time_point now = {}) noexcept;
  // Bytes of the body arrived: the connection goes to the back of the bodies, which are
  // ordered by their last progress.
  void progressed(Clock::time_point now) noexcept;
  // When the body last progressed (in Body), or when the answer was last seen moving (in
  // Sending).
  Clock::time_point lastProgress() const noexcept { return lastProgress_; }

  // An answer has to wait for the socket: the connection is Sending from `now` until
  // doneSending() takes it back to the state it was in (a body's progress counting from then).
  // Whether the answer moves meanwhile is asked of the socket (Socket::takeWriteProgress) when
  // the registry looks for a stalled connection, so writing costs nothing more.
  void startSending(Clock::time_point now) noexcept;
  void doneSending(Clock::time_point now) noexcept;

  // Sets the bytes of memory the request in hand holds (its head as parsed, its buffers), which
  // count against the limit of all requests together until the connection sets them back to 0.
  // False when this connection must be refused: the total would go past the limit while it
  // holds the most of those that can be refused (see ConnectionRegistry). When another holds
  // the most, that connection is refused instead (see refused()) and this one goes on.
  bool hold(std::size_t bytes) noexcept;
  std::size_t heldBytes() const noexcept { return held_; }

  // The registry ended the connection to make room: its socket was interrupted, so its reads
  // now see end of stream. A refused connection should give the answer to a refused head.
  bool reclaimed() const noexcept { return ending_ == Ending::Reclaimed; }
  bool refused() const noexcept { return ending_ == Ending::Refused; }

 private:
  friend class ConnectionRegistry;
  enum class Ending : unsigned char { None, Reclaimed, Refused };

  // hold() when the requests together would go past their limit.
  bool holdOverTotal(std::size_t bytes) noexcept;

  ConnectionRegistry& registry_;
  Socket& socket_;
  ConnectionState state_ = ConnectionState::Head;
  ConnectionState beforeSending_ = ConnectionState::Busy;
  Ending ending_ = Ending::None;
  std::size_t held_ = 0;
  Clock::time_point lastProgress_{};
  TrackedConnection* previous_ = nullptr;
  TrackedConnection* next_ = nullptr;
};

// The open connections of one server: the idle ones, those reading a head, those reading a
// body and those whose answer waits for the socket each in a queue, the busy ones only counted.
// Frees room on demand: at the descriptor ceiling by closing the connection that is best
// spared, and when the requests in hand hold too much memory by refusing the one holding most
// that is still being read. Closes bodies and answers that have stalled for long. Must outlive
// its connections.
class ConnectionRegistry {
 public:
  using Clock = TrackedConnection::Clock;

  explicit ConnectionRegistry(std::size_t maxHeldInTotal = limits::kMaxHeldInTotal,
                              std::chrono::milliseconds stalledAfter = limits::kStalledAfter);
  ConnectionRegistry(const ConnectionRegistry&) = delete;
  ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

  // True when some connection waits for its next request, has not completed its head, or has
  // a body or an answer that stalled. Not const: looking for a stalled answer notes the
  // progress of those it passes.
  bool canReclaim(Clock::time_point now) noexcept;
  // Ends the connection idle longest, or else the one that has been reading its head longest,
  // or else the one whose body has stalled longest (no byte for stalledAfter), or else the one
  // whose answer has stalled longest (no byte taken by the kernel for stalledAfter): it is
  // taken out of the registry and its socket interrupted, so the connection's coroutine sees
  // end of stream, or its write fails as if the peer had gone, and closes (normally before this
  // returns). A connection waiting for its procedure, or whose answer moves, is never chosen.
  // False when none can be.
  bool reclaimOne(Clock::time_point now) noexcept;
  // Ends every connection whose body has had no byte since `before`; answers when the next
  // one would be due, the last progress of the oldest body left plus `limit` (nullopt: none).
  std::optional<Clock::time_point> endStalledBodies(Clock::time_point before,
                                                    std::chrono::milliseconds limit) noexcept;
  // The same for answers whose peer has taken no byte since `before`. An answer seen moving
  // counts from `now` (its progress is noted only when looked at), so one that stalls is ended
  // between `limit` and twice `limit` after its last byte went, at a look every `limit`.
  std::optional<Clock::time_point> endStalledSenders(Clock::time_point now,
                                                     Clock::time_point before,
                                                     std::chrono::milliseconds limit) noexcept;

  // A body or an answer that has had no byte for this long may be reclaimed.
  void setStalledAfter(std::chrono::milliseconds stalledAfter) noexcept {
    stalledAfter_ = stalledAfter;
  }

  std::size_t count(ConnectionState state) const noexcept { return queues_[index(state)].size; }
  // The bytes all requests in hand hold together.
  std::size_t heldBytes() const noexcept { return held_; }
  // Connections reclaimOne has ended since the registry was made.
  std::uint64_t reclaimed() const noexcept { return reclaimed_; }

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
  const Queue& queue(ConnectionState state) const noexcept { return queues_[index(state)]; }

  void append(TrackedConnection& connection) noexcept;
  void remove(TrackedConnection& connection) noexcept;
  void release(TrackedConnection& connection) noexcept;
  // The other connection that may be refused (reading a head or a body) holding the most, or
  // nullptr.
  TrackedConnection* largestBesides(const TrackedConnection& connection) const noexcept;
  TrackedConnection* stalledBody(Clock::time_point now) const noexcept;
  // The sender at the front once every one seen moving since its last look went to the back,
  // as of `now`, when it has been still since `before`; or nullptr.
  TrackedConnection* stalledSender(Clock::time_point now, Clock::time_point before) noexcept;
  void end(TrackedConnection& connection, TrackedConnection::Ending why) noexcept;

  Queue queues_[5];
  std::size_t held_ = 0;
  std::uint64_t reclaimed_ = 0;
  std::size_t maxHeldInTotal_;
  std::chrono::milliseconds stalledAfter_;
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

inline void ConnectionRegistry::release(TrackedConnection& connection) noexcept {
  held_ -= connection.held_;
  connection.held_ = 0;
}

inline void TrackedConnection::enter(ConnectionState state, Clock::time_point now) noexcept {
  if (ending_ != Ending::None || state == state_) return;
  registry_.remove(*this);
  state_ = state;
  lastProgress_ = now;
  registry_.append(*this);
}

inline void TrackedConnection::progressed(Clock::time_point now) noexcept {
  if (ending_ != Ending::None || state_ != ConnectionState::Body) return;
  registry_.remove(*this);
  lastProgress_ = now;
  registry_.append(*this);
}

inline void TrackedConnection::startSending(Clock::time_point now) noexcept {
  if (ending_ != Ending::None || state_ == ConnectionState::Sending) return;
  beforeSending_ = state_;
  // What the socket wrote before counts for nothing: the wait starts now.
  socket_.takeWriteProgress();
  enter(ConnectionState::Sending, now);
}

inline void TrackedConnection::doneSending(Clock::time_point now) noexcept {
  if (state_ == ConnectionState::Sending) enter(beforeSending_, now);
}

inline bool TrackedConnection::hold(std::size_t bytes) noexcept {
  ConnectionRegistry& r = registry_;
  if (ending_ != Ending::None) return bytes == 0;
  if (bytes > held_ && r.held_ + (bytes - held_) > r.maxHeldInTotal_) return holdOverTotal(bytes);
  r.held_ = r.held_ - held_ + bytes;
  held_ = bytes;
  return true;
}

}  // namespace relaydash
