#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/loopback_client.hpp"

namespace relaydash::testing {

// What a test client offers in its handshake.
struct TlsOffer {
  int minVersion = TLS1_VERSION;  // OpenSSL's own floor may be higher: it is lowered to this
  int maxVersion = 0;             // 0: the newest
  // TLS 1.2's cipher list, as OpenSSL writes it; empty: OpenSSL's own (at security level 0,
  // so that weak ones are offered when asked for).
  std::string ciphers;
  std::string serverName = "localhost";
  std::string alpn = std::string("\x08http/1.1", 9);
  // A session to resume; its owner keeps it.
  SSL_SESSION* session = nullptr;
};

// A blocking TLS client on 127.0.0.1 (linked with OpenSSL, as any client would be): the
// handshake in the constructor, then requests and answers like LoopbackClient's. Reads give up
// after the time given, so a server that never answers fails the test instead of hanging it.
class TlsClient {
 public:
  explicit TlsClient(int port, const TlsOffer& offer = {}) : tcp_(port) {
    context_.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX* ctx = context_.get();
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_min_proto_version(ctx, offer.minVersion);
    if (offer.maxVersion) SSL_CTX_set_max_proto_version(ctx, offer.maxVersion);
    if (!offer.ciphers.empty()) SSL_CTX_set_cipher_list(ctx, offer.ciphers.c_str());
    if (!offer.alpn.empty()) {
      SSL_CTX_set_alpn_protos(ctx, reinterpret_cast<const unsigned char*>(offer.alpn.data()),
                              static_cast<unsigned>(offer.alpn.size()));
    }
    connection_.reset(SSL_new(ctx));
    SSL_set_fd(connection_.get(), tcp_.fd());
    SSL_set_tlsext_host_name(connection_.get(), offer.serverName.c_str());
    if (offer.session) SSL_set_session(connection_.get(), offer.session);
    setReadLimit(std::chrono::seconds(10));
    if (SSL_connect(connection_.get()) != 1) {
      ERR_clear_error();
      throw std::runtime_error("TLS handshake refused");
    }
  }

  // An orderly end: OpenSSL lets a session be resumed only after one.
  ~TlsClient() {
    if (SSL_shutdown(connection_.get()) < 0) ERR_clear_error();
  }
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  void send(std::string_view bytes) {
    std::size_t written = 0;
    if (SSL_write_ex(connection_.get(), bytes.data(), bytes.size(), &written) != 1 ||
        written != bytes.size()) {
      throw std::runtime_error("TLS write failed");
    }
  }

  // One whole answer with a Content-Length body; what follows stays for the next call. Empty
  // when the connection ends first (or nothing comes within the limit).
  std::string readAnswer() {
    for (;;) {
      const auto headEnd = pending_.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        std::size_t length = 0;
        const auto cl = pending_.find("Content-Length: ");
        if (cl != std::string::npos && cl < headEnd) length = std::stoul(pending_.substr(cl + 16));
        const std::size_t total = headEnd + 4 + length;
        if (pending_.size() >= total) {
          std::string answer = pending_.substr(0, total);
          pending_.erase(0, total);
          return answer;
        }
      }
      char chunk[65536];
      std::size_t n = 0;
      if (SSL_read_ex(connection_.get(), chunk, sizeof chunk, &n) != 1) {
        ERR_clear_error();
        return {};
      }
      pending_.append(chunk, n);
    }
  }

  // The session to resume later (its tickets come with the first answer under TLS 1.3).
  std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)> session() const {
    return {SSL_get1_session(connection_.get()), SSL_SESSION_free};
  }
  bool resumed() const { return SSL_session_reused(connection_.get()) == 1; }
  std::string version() const { return SSL_get_version(connection_.get()); }
  std::string alpn() const {
    const unsigned char* name = nullptr;
    unsigned length = 0;
    SSL_get0_alpn_selected(connection_.get(), &name, &length);
    return std::string(reinterpret_cast<const char*>(name), length);
  }
  LoopbackClient& tcp() noexcept { return tcp_; }

 private:
  void setReadLimit(std::chrono::seconds limit) {
    const timeval value{static_cast<time_t>(limit.count()), 0};
    ::setsockopt(tcp_.fd(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
  }

  LoopbackClient tcp_;
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_{nullptr, SSL_CTX_free};
  std::unique_ptr<SSL, decltype(&SSL_free)> connection_{nullptr, SSL_free};
  std::string pending_;
};

}  // namespace relaydash::testing
