#pragma once

#include <netinet/in.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <coroutine>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "runtime/file_descriptor.hpp"
#include "runtime/limits.hpp"
#include "runtime/stream_layer.hpp"

namespace relaydash {

class EventLoop;

// One I/O operation parked on a socket until the loop reports readiness: attempt() retries the
// system call and says whether the operation is over (done or failed).
struct IoOperation {
  bool (*attempt)(IoOperation&) = nullptr;
  std::coroutine_handle<> waiter;
};

// A non-blocking descriptor counted by the thread's event loop from construction until it is
// closed, and registered with epoll the first time an operation has to wait. Neither copyable
// nor movable: the loop refers to it by address.
// The awaitables below try their system call first and wait for readiness only on EAGAIN; they
// live in the awaiting coroutine's frame and allocate nothing.
class Socket {
 public:
  // Takes ownership of a non-blocking descriptor and starts watching it.
  explicit Socket(FileDescriptor fd);
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { close(); }

  int fd() const noexcept { return fd_.get(); }
  bool closed() const noexcept { return !fd_.valid(); }
  // Stops watching and closes; an operation still parked on the socket is never resumed.
  void close() noexcept;
  // Ends the incoming stream on this side: a read parked on the socket resumes at once with end
  // of stream, and every later read returns end of stream without asking the kernel. Writing
  // is not affected, unless a write is parked on the socket: then the socket is shut down both
  // ways, and that write and every later one end as if the peer had gone (what the kernel held
  // for the peer is dropped, the close resets the connection). The resumed coroutine runs
  // before this returns and may destroy the socket.
  void interrupt() noexcept;
  bool interrupted() const noexcept { return interrupted_; }

  // Whether a write has handed bytes to the kernel since the last time this was asked: how one
  // that waits for its peer to take them shows it is moving.
  bool takeWriteProgress() noexcept { return std::exchange(wrote_, false); }

  // Declares that a read returning fewer bytes than asked for has emptied the socket, as TCP
  // guarantees (it hands over everything queued up to the size asked for). The next read then
  // waits for readiness at once instead of first trying a system call that would say EAGAIN.
  // Not so for every kind of socket: a Unix stream socket may return part of what it holds.
  void setShortReadsDrain() noexcept { shortReadsDrain_ = true; }
  // For a listening socket: watched level-triggered, and one connection accepted for each report
  // of readiness, so that no accept ends in EAGAIN; the loop reports the socket again while more
  // connections wait. Nobody waiting on it, it leaves the epoll set (which it would otherwise
  // wake again and again) until someone does. Before the first wait.
  void setLevelTriggered() noexcept { levelTriggered_ = true; }
  // For a copy (dup) of a descriptor that another owner keeps open, such as a library's: epoll
  // forgets a descriptor only once every copy of it is closed, so closing this one leaves it
  // watched, and a later event would name a socket that is gone. Such a socket takes itself out
  // of the epoll set before it closes.
  void setSharedDescriptor() noexcept { sharedDescriptor_ = true; }
  // Puts a layer between the socket and its users (TLS): reads and writes go through it from now
  // on, and the next read asks it at once (it may hold bytes already, such as those it was
  // given). The layer must outlive the socket's use of it.
  void setLayer(StreamLayer* layer) noexcept {
    layer_ = layer;
    readable_ = true;
  }
  bool layered() const noexcept { return layer_ != nullptr; }
  // Declares that nothing is known to be waiting yet: the next read waits for readiness
  // without trying. Registering reports data that is already there, so nothing is lost.
  void setDrained() noexcept { readable_ = false; }

  // Called by the event loop with the epoll events of this socket.
  void onEvents(std::uint32_t events);

  class ReadSome;
  class WriteAll;
  class Accept;
  class Readable;

  // Reads what is there, up to the span's size: 0 at end of stream. A connection reset by the
  // peer also reads as end of stream; any other failure raises OSError.
  ReadSome read(std::span<char> into);
  // Writes every byte of the pieces, in order: true when all were handed to the kernel, false
  // when the peer has gone away (the rest is dropped). Other failures raise OSError.
  WriteAll write(std::span<const iovec> pieces);
  WriteAll write(std::string_view bytes);
  // Reads what is there, without waiting: the number of bytes, 0 at end of stream (as read()
  // says), or nothing when no byte is there yet. Failures as read().
  std::optional<std::size_t> readNow(std::span<char> into);
  // Sends what the kernel takes of the pieces at once, without waiting: the number of bytes
  // sent, 0 when the socket's buffer is full. A peer that has gone away counts as having taken
  // everything (the bytes are dropped, as write() drops them); other failures raise OSError.
  std::size_t sendNow(std::span<const iovec> pieces);
  // Accepts one connection: a non-blocking, close-on-exec descriptor and the peer's address.
  Accept accept();
  // Waits until the socket is readable, without reading. Goes on at once unless the socket is
  // known to be drained (a read or accept found nothing, or setDrained()): readiness that came
  // before an edge-triggered wait would never be reported again.
  Readable readable();

 private:
  friend class EventLoop;
  // Registers with epoll before the first wait; edge-triggered readiness is reported from then.
  void park(IoOperation*& slot, IoOperation& operation, std::coroutine_handle<> waiter);
  // One recv: the bytes read (0 at end of stream or on a failure, which goes to `error`), or -1
  // when nothing is there yet, which marks the socket drained.
  ssize_t receive(std::span<char> into, int& error) noexcept;
  // One send of the pieces, through the layer if there is one: as send, errno set on -1.
  ssize_t sendPieces(const iovec* pieces, std::size_t count) noexcept;

  FileDescriptor fd_;
  EventLoop* loop_;
  StreamLayer* layer_ = nullptr;
  IoOperation* reading_ = nullptr;
  IoOperation* writing_ = nullptr;
  bool registered_ = false;
  // False once a read drained the socket: until epoll reports new data, a read would only
  // return EAGAIN.
  bool readable_ = true;
  bool shortReadsDrain_ = false;
  bool levelTriggered_ = false;
  bool sharedDescriptor_ = false;
  // The peer has closed (or the socket failed): every read returns at once from now on, and
  // no further event will say so.
  bool hungUp_ = false;
  bool interrupted_ = false;
  bool wrote_ = false;
};

// True for the errors that mean the peer has gone: they end a connection quietly.
bool isDisconnection(int error) noexcept;

class Socket::ReadSome : IoOperation {
 public:
  ReadSome(Socket& socket, std::span<char> into);
  ReadSome(const ReadSome&) = delete;
  ~ReadSome();
  bool await_ready() { return (socket_.readable_ || socket_.interrupted_) && tryRead(); }
  void await_suspend(std::coroutine_handle<> h);
  std::size_t await_resume() const;

 private:
  bool tryRead();
  Socket& socket_;
  std::span<char> into_;
  ssize_t result_ = 0;
  int error_ = 0;
};

class Socket::WriteAll : IoOperation {
 public:
  WriteAll(Socket& socket, std::span<const iovec> pieces);
  WriteAll(const WriteAll&) = delete;
  ~WriteAll();
  bool await_ready() { return tryWrite(); }
  void await_suspend(std::coroutine_handle<> h);
  bool await_resume() const;

 private:
  bool tryWrite();
  Socket& socket_;
  iovec pieces_[limits::kMaxWritePieces];
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  int error_ = 0;
};

struct Accepted {
  FileDescriptor fd;
  sockaddr_in peer{};
};

class Socket::Accept : IoOperation {
 public:
  explicit Accept(Socket& socket);
  Accept(const Accept&) = delete;
  ~Accept();
  bool await_ready() { return socket_.readable_ && tryAccept(); }
  void await_suspend(std::coroutine_handle<> h);
  Accepted await_resume();

 private:
  bool tryAccept();
  Socket& socket_;
  Accepted result_;
  int error_ = 0;
};

class Socket::Readable : IoOperation {
 public:
  explicit Readable(Socket& socket);
  Readable(const Readable&) = delete;
  ~Readable();
  bool await_ready() const noexcept { return socket_.readable_ || socket_.interrupted_; }
  void await_suspend(std::coroutine_handle<> h);
  void await_resume() const noexcept {}

 private:
  Socket& socket_;
};

}  // namespace relaydash
