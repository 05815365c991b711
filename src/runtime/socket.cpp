#include "runtime/socket.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "runtime/event_loop.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

// One system call for the pieces. One piece goes through send, which the kernel takes with less
// work than sendmsg's message header and piece list. MSG_NOSIGNAL: a peer that has gone away
// gives EPIPE here instead of killing the process.
ssize_t sendOnce(int fd, const iovec* pieces, std::size_t count) noexcept {
  if (count == 1) return ::send(fd, pieces->iov_base, pieces->iov_len, MSG_NOSIGNAL);
  msghdr message{};
  message.msg_iov = const_cast<iovec*>(pieces);
  message.msg_iovlen = count;
  return ::sendmsg(fd, &message, MSG_NOSIGNAL);
}

}  // namespace

bool isDisconnection(int error) noexcept {
  return error == ECONNRESET || error == ENETRESET || error == EPIPE || error == ECONNABORTED;
}

Socket::Socket(FileDescriptor fd) : fd_(std::move(fd)), loop_(&EventLoop::current()) {
  loop_->track();
}

void Socket::close() noexcept {
  if (!fd_) return;
  if (sharedDescriptor_ && registered_) loop_->unwatch(*this);
  loop_->untrack(*this, registered_);
  fd_.reset();
  reading_ = nullptr;
  writing_ = nullptr;
  registered_ = false;
}

void Socket::interrupt() noexcept {
  interrupted_ = true;
  // Decide both sides before resuming anything, as onEvents does.
  std::coroutine_handle<> reader, writer;
  if (reading_ && reading_->attempt(*reading_)) reader = std::exchange(reading_, nullptr)->waiter;
  // Nothing else would wake a write whose peer takes nothing: after the shutdown, sending fails
  // with EPIPE, a peer gone. What the kernel still holds for that peer is dropped when the
  // socket closes, which resets the connection: left to itself the kernel would keep the bytes
  // for minutes, trying to hand them over.
  if (writing_) {
    const linger reset{1, 0};
    ::setsockopt(fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::shutdown(fd(), SHUT_RDWR);
    if (writing_->attempt(*writing_)) writer = std::exchange(writing_, nullptr)->waiter;
  }
  if (reader) reader.resume();
  if (writer) writer.resume();
}

void Socket::park(IoOperation*& slot, IoOperation& operation, std::coroutine_handle<> waiter) {
  // Registering reports the current state too, so readiness that came before is not lost.
  if (!registered_) {
    loop_->watch(*this, levelTriggered_);
    registered_ = true;
  }
  operation.waiter = waiter;
  slot = &operation;
}

void Socket::onEvents(std::uint32_t events) {
  // Decide both sides before resuming anything: resuming a waiter may destroy this socket.
  std::coroutine_handle<> reader, writer;
  const bool readEvent = events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR);
  if (readEvent) readable_ = true;
  if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) hungUp_ = true;
  if (reading_ && readEvent && reading_->attempt(*reading_)) {
    reader = std::exchange(reading_, nullptr)->waiter;
  }
  if (writing_ && (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) && writing_->attempt(*writing_)) {
    writer = std::exchange(writing_, nullptr)->waiter;
  }
  if (levelTriggered_ && !reading_ && !reader) {
    loop_->unwatch(*this);
    registered_ = false;
  }
  if (reader) reader.resume();
  if (writer) writer.resume();
}

Socket::ReadSome Socket::read(std::span<char> into) {
  return ReadSome(*this, into);
}

Socket::WriteAll Socket::write(std::span<const iovec> pieces) {
  return WriteAll(*this, pieces);
}

Socket::WriteAll Socket::write(std::string_view bytes) {
  const iovec piece{const_cast<char*>(bytes.data()), bytes.size()};
  return WriteAll(*this, std::span<const iovec>(&piece, 1));
}

ssize_t Socket::sendPieces(const iovec* pieces, std::size_t count) noexcept {
  return layer_ ? layer_->send(pieces, count) : sendOnce(fd(), pieces, count);
}

ssize_t Socket::receive(std::span<char> into, int& error) noexcept {
  if (interrupted_) return 0;
  for (;;) {
    if (layer_) {
      bool drained = false;
      const ssize_t n = layer_->receive(into, drained);
      if (n >= 0) {
        // The layer knows best what is left: bytes it holds (a TLS record that came with the
        // one just read) may be there when a plain read before it found the socket drained.
        if (drained && shortReadsDrain_ && !hungUp_) {
          readable_ = false;
        } else if (n > 0 && !drained) {
          readable_ = true;
        }
        return n;
      }
    } else if (const ssize_t n = ::recv(fd(), into.data(), into.size(), 0); n >= 0) {
      // Fewer bytes than asked for from a socket that drains on short reads: new data will be
      // an event.
      if (shortReadsDrain_ && !hungUp_ && n > 0 && static_cast<std::size_t>(n) < into.size()) {
        readable_ = false;
      }
      return n;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      readable_ = false;
      return -1;
    }
    error = errno;
    return 0;
  }
}

std::optional<std::size_t> Socket::readNow(std::span<char> into) {
  int error = 0;
  const ssize_t n = receive(into, error);
  if (error != 0 && !isDisconnection(error)) throw OSError(error);
  if (n < 0) return std::nullopt;
  return static_cast<std::size_t>(n);
}

std::size_t Socket::sendNow(std::span<const iovec> pieces) {
  for (;;) {
    const ssize_t sent = sendPieces(pieces.data(), pieces.size());
    if (sent >= 0) return static_cast<std::size_t>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (!isDisconnection(errno)) throw OSError(errno);
    std::size_t all = 0;
    for (const iovec& piece : pieces)
      all += piece.iov_len;
    return all;
  }
}

Socket::Accept Socket::accept() {
  return Accept(*this);
}

Socket::Readable Socket::readable() {
  return Readable(*this);
}

// --- ReadSome

Socket::ReadSome::ReadSome(Socket& socket, std::span<char> into) : socket_(socket), into_(into) {
  attempt = [](IoOperation& op) { return static_cast<ReadSome&>(op).tryRead(); };
}

Socket::ReadSome::~ReadSome() {
  if (socket_.reading_ == this) socket_.reading_ = nullptr;
}

bool Socket::ReadSome::tryRead() {
  result_ = socket_.receive(into_, error_);
  return result_ >= 0;
}

void Socket::ReadSome::await_suspend(std::coroutine_handle<> h) {
  socket_.park(socket_.reading_, *this, h);
}

std::size_t Socket::ReadSome::await_resume() const {
  if (error_ == 0) return static_cast<std::size_t>(result_);
  if (isDisconnection(error_)) return 0;
  throw OSError(error_);
}

// --- WriteAll

Socket::WriteAll::WriteAll(Socket& socket, std::span<const iovec> pieces) : socket_(socket) {
  attempt = [](IoOperation& op) { return static_cast<WriteAll&>(op).tryWrite(); };
  for (const iovec& piece : pieces) {
    if (piece.iov_len == 0) continue;
    if (count_ == limits::kMaxWritePieces) throw std::length_error("too many pieces for one write");
    pieces_[count_++] = piece;
  }
}

Socket::WriteAll::~WriteAll() {
  if (socket_.writing_ == this) socket_.writing_ = nullptr;
}

bool Socket::WriteAll::tryWrite() {
  while (first_ < count_) {
    const ssize_t sent = socket_.sendPieces(pieces_ + first_, count_ - first_);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
      error_ = errno;
      return true;
    }
    socket_.wrote_ = true;
    auto left = static_cast<std::size_t>(sent);
    while (first_ < count_ && left >= pieces_[first_].iov_len)
      left -= pieces_[first_++].iov_len;
    if (left > 0) {
      pieces_[first_].iov_base = static_cast<char*>(pieces_[first_].iov_base) + left;
      pieces_[first_].iov_len -= left;
    }
  }
  return true;
}

void Socket::WriteAll::await_suspend(std::coroutine_handle<> h) {
  socket_.park(socket_.writing_, *this, h);
}

bool Socket::WriteAll::await_resume() const {
  if (error_ == 0) return true;
  if (isDisconnection(error_)) return false;
  throw OSError(error_);
}

// --- Accept

Socket::Accept::Accept(Socket& socket) : socket_(socket) {
  attempt = [](IoOperation& op) { return static_cast<Accept&>(op).tryAccept(); };
}

Socket::Accept::~Accept() {
  if (socket_.reading_ == this) socket_.reading_ = nullptr;
}

bool Socket::Accept::tryAccept() {
  socklen_t length = sizeof result_.peer;
  const int fd = ::accept4(socket_.fd(), reinterpret_cast<sockaddr*>(&result_.peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    result_.fd.reset(fd);
    // The loop says whether another one waits.
    if (socket_.levelTriggered_) socket_.readable_ = false;
    return true;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    socket_.readable_ = false;
    return false;
  }
  error_ = errno;
  return true;
}

void Socket::Accept::await_suspend(std::coroutine_handle<> h) {
  socket_.park(socket_.reading_, *this, h);
}

Accepted Socket::Accept::await_resume() {
  if (error_ != 0) throw OSError(error_);
  return std::move(result_);
}

// --- Readable

Socket::Readable::Readable(Socket& socket) : socket_(socket) {
  attempt = [](IoOperation&) { return true; };
}

Socket::Readable::~Readable() {
  if (socket_.reading_ == this) socket_.reading_ = nullptr;
}

void Socket::Readable::await_suspend(std::coroutine_handle<> h) {
  socket_.park(socket_.reading_, *this, h);
}

}  // namespace relaydash
