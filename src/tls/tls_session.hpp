#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "runtime/stream_layer.hpp"
#include "tls/openssl.hpp"
#include "tls/tls_context.hpp"

namespace relaydash {

// The server's side of one TLS connection on a non-blocking socket: it reads and writes the
// socket itself, a record at a time, never waiting; the handshake runs within the first reads.
// The socket's readiness tells the connection when to try again, as for plain bytes.
// OpenSSL's failures end the connection quietly, as a peer that has gone would: a client that
// sends what is not TLS gets an alert and the close.
class TlsSession final : public StreamLayer {
 public:
  // `received`: what was already read from the socket, the start of the client's handshake.
  // TlsError when OpenSSL cannot make the connection's state.
  TlsSession(std::shared_ptr<const TlsContext> context, int fd, std::string_view received);
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;
  ~TlsSession() override;

  ssize_t receive(std::span<char> into, bool& drained) noexcept override;
  ssize_t send(const iovec* pieces, std::size_t count) noexcept override;
  bool established() const noexcept override;
  void finish() noexcept override;

  SSL* connection() const noexcept { return connection_; }

 private:
  static int readSocket(BIO* bio, char* data, std::size_t size, std::size_t* done);
  static int writeSocket(BIO* bio, const char* data, std::size_t size, std::size_t* done);
  // A failed call: errno as send or recv would set it, and -1.
  ssize_t failed(int result) noexcept;

  std::shared_ptr<const TlsContext> context_;
  const OpenSsl& ssl_;
  SSL* connection_ = nullptr;
  int fd_;
  // Read from the socket before the session began, handed to OpenSSL first.
  std::string received_;
  std::size_t receivedTaken_ = 0;
  // The socket's last read returned less than was asked for, or nothing yet.
  bool shortRead_ = false;
  // The error of the socket's last failing call, for a failure OpenSSL reports as a system one.
  int socketError_ = 0;
  bool broken_ = false;
};

}  // namespace relaydash
