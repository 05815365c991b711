#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "tls/certificate_store.hpp"
#include "tls/openssl.hpp"

namespace relaydash {

// The keys that seal session tickets, kept in memory only: the current one seals new tickets,
// the one before still opens the tickets it sealed (and has them replaced). rotate() every
// kTicketKeyLifetime: a ticket opens at most twice that long after it was sealed, and a
// restart of the server opens none.
class TicketKeys {
 public:
  struct Key {
    std::array<unsigned char, 16> name{};
    std::array<unsigned char, 32> cipherKey{};
    std::array<unsigned char, 32> macKey{};
  };

  explicit TicketKeys(const OpenSsl& ssl);
  void rotate();
  const Key& current() const noexcept { return keys_[current_]; }
  // The key of that name, and whether it is the current one; null when neither has that name.
  const Key* find(const unsigned char* name, bool& isCurrent) const noexcept;

 private:
  void fill(Key& key);
  const OpenSsl& ssl_;
  std::array<Key, 2> keys_{};
  std::size_t current_ = 0;
};

// One SSL_CTX as this server sets it up: TLS 1.2 and 1.3 only, ECDHE key exchange with AEAD
// ciphers only, the server's order of preference, X25519, P-256 and P-384, ALPN "http/1.1",
// tickets sealed with the given keys and no session cache, renegotiation refused. Each
// connection made from it holds it (shared), so it stays until the last one has ended.
class TlsContext {
 public:
  // TlsError when the certificate or key cannot be used (with OpenSSL's reason).
  TlsContext(const OpenSsl& ssl, const CertificateFiles& files, std::shared_ptr<TicketKeys> keys);
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;
  ~TlsContext();

  SSL_CTX* get() const noexcept { return context_; }

 private:
  const OpenSsl& ssl_;
  std::shared_ptr<TicketKeys> keys_;
  SSL_CTX* context_ = nullptr;
};

// Tickets are valid this long after they are sealed; the keys turn over as often.
inline constexpr std::int64_t kTicketKeyLifetimeSeconds = 3600;

}  // namespace relaydash
