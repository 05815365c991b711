#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

#include "runtime/socket.hpp"
#include "runtime/task.hpp"
#include "transport/answer.hpp"
#include "transport/connection_registry.hpp"

namespace relaydash {

// The answers of one connection, in request order. While the connection works through requests
// that are already read, their answers wait in a queue and go out together, in one write, when
// the connection next has to wait (for more of the peer's bytes, or for a handler) or the queue
// grows large. Once a handler has had to wait, its answer goes out at once, so a slow request
// never holds back an answer already made. A large body goes out from where it lies, with
// whatever is queued before it.
//
// A peer that has gone away makes writing a quiet no-op; any other failure to write raises
// OSError. While an answer waits for the socket the connection is Sending in its registry, where
// it may be ended when its peer takes nothing: the write then ends as if the peer had gone.
// One answer at a time: a handler awaits each answer before it gives the next. Owned by a
// connection's workspace; attach() names the socket and the connection before each use.
class AnswerWriter {
 public:
  AnswerWriter() = default;
  AnswerWriter(const AnswerWriter&) = delete;
  AnswerWriter& operator=(const AnswerWriter&) = delete;

  // An answer with the status, the header fields (written as given) and the body. Without
  // withBody the body is left out and its Content-Length stays (the answer to a HEAD request).
  // The future completes once the answer is queued or written, and the body is no longer
  // needed; it is ready at once unless the answer had to wait for the socket.
  Task<void> write(int code, HeaderFields fields, std::string_view body, bool withBody = true);
  Task<void> write(const ConstantAnswer& answer, bool withBody = true);

  // Ends the connection once the answers given so far are written, leaving the request being
  // handled unanswered.
  void closeWithoutAnswer() noexcept { closing_ = true; }
  bool closing() const noexcept { return closing_; }

  // --- For the connection

  void attach(Socket& socket, TrackedConnection& tracked) noexcept {
    socket_ = &socket;
    tracked_ = &tracked;
  }
  // Queues one of the transport's own answers.
  void queue(TransportAnswer answer) { queue_.append(transportAnswerBytes(answer)); }
  // Whether answers may wait in the queue: while a handler runs without waiting.
  void setBatching(bool batching) noexcept { batching_ = batching; }
  // The handler has to wait for something: answers go out at once from now on, and what is
  // queued goes now, as far as the kernel takes it. A failure is kept for the next flush().
  void handlerWaits() noexcept;
  bool empty() const noexcept { return sent_ == queue_.size(); }
  // Writes what the kernel takes of the queue at once; true when nothing is left. Does nothing
  // while a write waits for the socket. Raises a failure that handlerWaits() kept.
  bool flushNow();
  // Writes all of the queue, waiting for the socket as needed.
  Task<void> flush();
  // Empties the writer for its next connection, keeping storage up to what limits.hpp allows.
  void reset() noexcept;

 private:
  // After the head is queued: queues the body or writes it with the queue.
  Task<void> send(std::string_view body);
  // Sends the rest of the queue and then the body from bodySent on, waiting for the socket.
  Task<void> finish(std::string_view body, std::size_t bodySent);
  void clearQueue() noexcept;

  Socket* socket_ = nullptr;
  TrackedConnection* tracked_ = nullptr;
  std::string queue_;
  std::size_t sent_ = 0;  // bytes at the front of queue_ already written
  bool batching_ = false;
  bool writing_ = false;  // a write waits for the socket: nobody else may send meanwhile
  bool closing_ = false;
  std::exception_ptr failure_;
};

}  // namespace relaydash
