#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/stream_layer.hpp"
#include "runtime/task.hpp"
#include "tls/certificate.hpp"
#include "tls/certificate_choice.hpp"
#include "tls/tls_context.hpp"

namespace relaydash {

// How HTTPS is set up, from the environment (the package's /etc/default/relaydash):
//   RELAYDASH_TLS           "off" turns HTTPS off; on otherwise
//   RELAYDASH_TLS_DIR       the operator's certificates (default /etc/relaydash/tls)
//   RELAYDASH_TLS_REDIRECT  "on": plain HTTP from another machine is sent to HTTPS
struct TlsSettings {
  bool enabled = true;
  std::string installedFolder = "/etc/relaydash/tls";
  bool redirect = false;

  static TlsSettings fromEnvironment();
};

// What the server says of its HTTPS: whether it is on (and why not), and the certificate in use.
struct TlsSummary {
  bool https = false;
  std::string why;
  CertificateSource source = CertificateSource::Generated;
  CertificateFacts certificate;
  bool redirect = false;
};

// HTTPS on the server's port: the certificate in use and the context new connections are made
// from. Starting never fails: when HTTPS cannot be set up the server goes on with plain HTTP,
// and summary() says why.
// OpenSSL costs a server some 5 MiB of memory once loaded, which a gateway nobody browses over
// HTTPS should not pay: the certificate is chosen (and made) in a child process, and OpenSSL is
// loaded here when the first TLS connection comes.
class TlsServer {
 public:
  // `stateFolder`: where the device's own certificate is kept (made if missing). Chooses the
  // certificate before it returns, running the calling thread's event loop meanwhile (or one of
  // its own when the thread has none); never called from a task on that loop.
  TlsServer(TlsSettings settings, std::string stateFolder);
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  bool on() const noexcept { return summary_.https; }
  const TlsSummary& summary() const noexcept { return summary_; }
  // The line start-up prints: the fingerprint, or why HTTPS is off.
  std::string startLine() const;
  // Notes worth printing besides (an installed certificate that could not be used).
  const std::vector<std::string>& notes() const noexcept { return notes_; }
  // Whether OpenSSL is loaded in this process: once a TLS connection has come.
  bool loaded() const noexcept { return context_ != nullptr; }

  // The TLS side of a new connection on the socket, given what was read of it so far: null when
  // HTTPS is off or OpenSSL cannot make one (which is printed).
  std::unique_ptr<StreamLayer> open(int fd, std::string_view received);

  // Runs as long as the loop: looks every kCheckEverySeconds whether the device's certificate
  // must be made anew (its names changed: a new address, another host name; or its end draws
  // near), and turns the ticket keys over every kTicketKeyLifetimeSeconds.
  static constexpr std::int64_t kCheckEverySeconds = 600;
  Task<void> maintain();
  // What maintain() does at each turn; public for tests. `now` in Unix seconds.
  void rotateTicketKeys();
  Task<void> checkCertificate(std::int64_t now, std::vector<std::string> names);

 private:
  // Chooses in a child process (in this one when no child can be made, or OpenSSL is loaded).
  Task<CertificateChoice> choose(std::int64_t now, std::vector<std::string> names, bool onlyOwn);
  void adopt(CertificateChoice choice);
  bool load();

  TlsSettings settings_;
  std::string stateFolder_;
  CertificateFiles files_;
  std::shared_ptr<TicketKeys> keys_;
  std::shared_ptr<const TlsContext> context_;
  TlsSummary summary_;
  std::vector<std::string> notes_;
};

}  // namespace relaydash
