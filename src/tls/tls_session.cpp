#include "tls/tls_session.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tls/tls_error.hpp"

namespace relaydash {
namespace {

// A record holds at most this much: small pieces go out together in one, and so in one send.
constexpr std::size_t kRecordSize = 16384;

long controlSocket(BIO*, int command, long, void*) {
  // OpenSSL flushes after a flight of the handshake; the socket has nothing to flush.
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

// The socket's BIO, made once: recv and send on the socket directly, MSG_NOSIGNAL so that a
// peer that has gone gives EPIPE rather than a signal.
BIO_METHOD* socketMethod(const OpenSsl& ssl, BIO_METHOD* (*make)(const OpenSsl&)) {
  static BIO_METHOD* method = make(ssl);
  return method;
}

}  // namespace

TlsSession::TlsSession(std::shared_ptr<const TlsContext> context, int fd, std::string_view received)
    : context_(std::move(context)), ssl_(*openSsl()), fd_(fd), received_(received) {
  BIO_METHOD* method = socketMethod(ssl_, [](const OpenSsl& ssl) {
    BIO_METHOD* made = ssl.bioMethNew(ssl.bioNewIndex() | BIO_TYPE_SOURCE_SINK, "relaydash socket");
    if (made) {
      ssl.bioMethSetRead(made, readSocket);
      ssl.bioMethSetWrite(made, writeSocket);
      ssl.bioMethSetCtrl(made, controlSocket);
    }
    return made;
  });
  if (!method) throw TlsError("cannot make the socket's BIO: " + openSslError(ssl_, "failed"));
  connection_ = ssl_.sslNew(context_->get());
  BIO* bio = connection_ ? ssl_.bioNew(method) : nullptr;
  if (!bio) {
    if (connection_) ssl_.sslFree(connection_);
    throw TlsError("cannot start TLS: " + openSslError(ssl_, "failed"));
  }
  ssl_.bioSetData(bio, this);
  ssl_.bioSetInit(bio, 1);
  ssl_.sslSetBio(connection_, bio, bio);
  ssl_.sslSetAcceptState(connection_);
}

TlsSession::~TlsSession() {
  ssl_.sslFree(connection_);
}

int TlsSession::readSocket(BIO* bio, char* data, std::size_t size, std::size_t* done) {
  const OpenSsl& ssl = *openSsl();
  auto* session = static_cast<TlsSession*>(ssl.bioGetData(bio));
  ssl.bioClearFlags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
  if (std::string& received = session->received_; !received.empty()) {
    const std::size_t take = std::min(size, received.size() - session->receivedTaken_);
    std::memcpy(data, received.data() + session->receivedTaken_, take);
    session->receivedTaken_ += take;
    if (session->receivedTaken_ == received.size()) {
      std::string().swap(received);
      session->receivedTaken_ = 0;
    }
    // The socket may hold more.
    session->shortRead_ = false;
    *done = take;
    return 1;
  }
  for (;;) {
    const ssize_t n = ::recv(session->fd_, data, size, 0);
    if (n > 0) {
      session->shortRead_ = static_cast<std::size_t>(n) < size;
      *done = static_cast<std::size_t>(n);
      return 1;
    }
    if (n == 0) return 0;  // the end of the stream
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      session->shortRead_ = true;
      ssl.bioSetFlags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
      return 0;
    }
    session->socketError_ = errno;
    return 0;
  }
}

int TlsSession::writeSocket(BIO* bio, const char* data, std::size_t size, std::size_t* done) {
  const OpenSsl& ssl = *openSsl();
  auto* session = static_cast<TlsSession*>(ssl.bioGetData(bio));
  ssl.bioClearFlags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
  for (;;) {
    const ssize_t n = ::send(session->fd_, data, size, MSG_NOSIGNAL);
    if (n >= 0) {
      *done = static_cast<std::size_t>(n);
      return 1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      ssl.bioSetFlags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
      return 0;
    }
    session->socketError_ = errno;
    return 0;
  }
}

ssize_t TlsSession::failed(int result) noexcept {
  switch (ssl_.sslGetError(connection_, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      errno = EAGAIN;
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      ssl_.errClear();
      if (socketError_ == 0) return 0;
      broken_ = true;
      errno = socketError_;
      return -1;
    default:
      // Not TLS, or TLS this server does not speak: OpenSSL has sent its alert. The connection
      // ends as if the peer had reset it.
      ssl_.errClear();
      broken_ = true;
      errno = ECONNRESET;
      return -1;
  }
}

ssize_t TlsSession::receive(std::span<char> into, bool& drained) noexcept {
  if (broken_) {
    errno = ECONNRESET;
    return -1;
  }
  shortRead_ = false;
  socketError_ = 0;
  std::size_t done = 0;
  const int result = ssl_.sslRead(connection_, into.data(), into.size(), &done);
  if (result != 1) return failed(result);
  drained = shortRead_ && ssl_.sslHasPending(connection_) == 0;
  return static_cast<ssize_t>(done);
}

ssize_t TlsSession::send(const iovec* pieces, std::size_t count) noexcept {
  if (broken_) {
    errno = EPIPE;
    return -1;
  }
  socketError_ = 0;
  // Pieces that fit one record together go out in one: the head of an answer with its body.
  // After a send that had to wait, the same pieces come again, and make the same record.
  static char record[kRecordSize];
  const char* data = static_cast<const char*>(pieces[0].iov_base);
  std::size_t size = pieces[0].iov_len;
  if (count > 1 && size < kRecordSize) {
    size = 0;
    for (std::size_t i = 0; i < count && size < kRecordSize; ++i) {
      const std::size_t take = std::min(pieces[i].iov_len, kRecordSize - size);
      std::memcpy(record + size, pieces[i].iov_base, take);
      size += take;
    }
    data = record;
  }
  if (size == 0) return 0;
  std::size_t done = 0;
  const int result = ssl_.sslWrite(connection_, data, size, &done);
  if (result == 1) return static_cast<ssize_t>(done);
  if (const ssize_t n = failed(result); n < 0) return n;
  // The peer closed its side (close_notify): what is sent now is not read.
  errno = EPIPE;
  return -1;
}

bool TlsSession::established() const noexcept {
  return ssl_.sslInitFinished(connection_) == 1;
}

void TlsSession::finish() noexcept {
  if (broken_ || !established()) return;
  // One try, not waiting for the peer's answer: the socket closes next.
  if (ssl_.sslShutdown(connection_) < 0) ssl_.errClear();
}

}  // namespace relaydash
