#include "tls/tls_context.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "tls/tls_error.hpp"

namespace relaydash {
namespace {

// TLS 1.2's suites: forward secrecy and authenticated encryption only. TLS 1.3's are all of that
// kind; ChaCha20 stays for boards without AES instructions.
constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
constexpr const char* kTls13Ciphers =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
constexpr const char* kGroups = "X25519:P-256:P-384";
constexpr unsigned char kHttp11[] = {'h', 't', 't', 'p', '/', '1', '.', '1'};

// The keys of the context a connection was made from (its ex_data 0, the application's).
TicketKeys& ticketKeys(const OpenSsl& ssl, SSL* connection) {
  return *static_cast<TicketKeys*>(ssl.ctxGetExData(ssl.sslContext(connection), 0));
}

int selectHttp11(SSL*, const unsigned char** out, unsigned char* outLength,
                 const unsigned char* offered, unsigned int offeredLength, void*) {
  // The client's list: length-prefixed names. Only HTTP/1.1 is spoken here; a client that
  // offers only something else goes on without ALPN, as it would with a server that has none.
  for (unsigned i = 0; i < offeredLength;) {
    const unsigned length = offered[i];
    if (i + 1 + length > offeredLength) break;
    if (length == sizeof kHttp11 && std::memcmp(offered + i + 1, kHttp11, length) == 0) {
      *out = offered + i + 1;
      *outLength = static_cast<unsigned char>(length);
      return SSL_TLSEXT_ERR_OK;
    }
    i += 1 + length;
  }
  return SSL_TLSEXT_ERR_NOACK;
}

int sealTicket(SSL* connection, unsigned char* name, unsigned char* iv, EVP_CIPHER_CTX* cipher,
               EVP_MAC_CTX* mac, int encrypt) {
  // Only ever called on contexts made here, after OpenSSL was loaded.
  const OpenSsl& ssl = *openSsl();
  TicketKeys& keys = ticketKeys(ssl, connection);
  const TicketKeys::Key* key = nullptr;
  bool isCurrent = true;
  if (encrypt) {
    key = &keys.current();
    std::copy(key->name.begin(), key->name.end(), name);
    if (ssl.randBytes(iv, 16) != 1) return -1;
  } else {
    key = keys.find(name, isCurrent);
    // Sealed with a key no longer kept: a full handshake instead.
    if (!key) return 0;
  }
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {
      ssl.paramOctets(OSSL_MAC_PARAM_KEY, const_cast<unsigned char*>(key->macKey.data()),
                      key->macKey.size()),
      ssl.paramUtf8(OSSL_MAC_PARAM_DIGEST, digest, 0), ssl.paramEnd()};
  if (ssl.macSetParams(mac, params) != 1) return -1;
  const int ok = encrypt
                     ? ssl.encryptInit(cipher, ssl.aes256Cbc(), nullptr, key->cipherKey.data(), iv)
                     : ssl.decryptInit(cipher, ssl.aes256Cbc(), nullptr, key->cipherKey.data(), iv);
  if (ok != 1) return -1;
  // A ticket of the key before is taken and replaced by one of the current key.
  return isCurrent ? 1 : 2;
}

}  // namespace

TicketKeys::TicketKeys(const OpenSsl& ssl) : ssl_(ssl) {
  fill(keys_[0]);
  fill(keys_[1]);
}

void TicketKeys::fill(Key& key) {
  if (ssl_.randBytes(key.name.data(), key.name.size()) != 1 ||
      ssl_.randBytes(key.cipherKey.data(), key.cipherKey.size()) != 1 ||
      ssl_.randBytes(key.macKey.data(), key.macKey.size()) != 1) {
    throw TlsError("no random bytes for the ticket keys: " + openSslError(ssl_, "failed"));
  }
}

void TicketKeys::rotate() {
  current_ = 1 - current_;
  fill(keys_[current_]);
}

const TicketKeys::Key* TicketKeys::find(const unsigned char* name, bool& isCurrent) const noexcept {
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (std::equal(keys_[i].name.begin(), keys_[i].name.end(), name)) {
      isCurrent = i == current_;
      return &keys_[i];
    }
  }
  return nullptr;
}

TlsContext::TlsContext(const OpenSsl& ssl, const CertificateFiles& files,
                       std::shared_ptr<TicketKeys> keys)
    : ssl_(ssl), keys_(std::move(keys)) {
  context_ = ssl.ctxNew(ssl.serverMethod());
  if (!context_) throw TlsError("cannot make a TLS context: " + openSslError(ssl, "failed"));
  auto fail = [this](const std::string& what) {
    const std::string reason = openSslError(ssl_, "failed");
    ssl_.ctxFree(context_);
    context_ = nullptr;
    throw TlsError(what + ": " + reason);
  };
  ssl.ctxCtrl(context_, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  ssl.ctxSetOptions(context_, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                  SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Answers leave in records of any size the writer hands over, from wherever they lie; idle
  // connections give their buffers back; reads take whatever the socket holds at once.
  ssl.ctxCtrl(context_, SSL_CTRL_MODE,
              SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                  SSL_MODE_RELEASE_BUFFERS,
              nullptr);
  ssl.ctxCtrl(context_, SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
  ssl.ctxCtrl(context_, SSL_CTRL_SET_SESS_CACHE_MODE, SSL_SESS_CACHE_OFF, nullptr);
  if (ssl.ctxSetCipherList(context_, kTls12Ciphers) != 1) fail("TLS 1.2 ciphers");
  if (ssl.ctxSetCiphersuites(context_, kTls13Ciphers) != 1) fail("TLS 1.3 ciphers");
  if (ssl.ctxCtrl(context_, SSL_CTRL_SET_GROUPS_LIST, 0, const_cast<char*>(kGroups)) != 1) {
    fail("key exchange groups");
  }
  if (ssl.ctxUseCertificateChainFile(context_, files.certificate.c_str()) != 1) {
    fail("certificate " + files.certificate);
  }
  if (ssl.ctxUsePrivateKeyFile(context_, files.key.c_str(), SSL_FILETYPE_PEM) != 1) {
    fail("key " + files.key);
  }
  if (ssl.ctxCheckPrivateKey(context_) != 1) fail("key " + files.key);
  ssl.ctxSetAlpnSelect(context_, selectHttp11, nullptr);
  // One ticket after a full handshake is enough for a browser's next connection.
  ssl.ctxSetNumTickets(context_, 1);
  ssl.ctxSetTimeout(context_, kTicketKeyLifetimeSeconds);
  ssl.ctxSetExData(context_, 0, keys_.get());
  if (ssl.ctxSetTicketKeyCallback(context_, sealTicket) != 1) fail("session tickets");
}

TlsContext::~TlsContext() {
  if (context_) ssl_.ctxFree(context_);
}

}  // namespace relaydash
