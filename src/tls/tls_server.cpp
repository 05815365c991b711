#include "tls/tls_server.hpp"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "runtime/event_loop.hpp"
#include "tls/certificate_store.hpp"
#include "tls/device_names.hpp"
#include "tls/tls_error.hpp"
#include "tls/tls_session.hpp"

namespace relaydash {
namespace {

std::int64_t unixNow() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

bool variableIs(const char* name, const char* value) {
  const char* set = std::getenv(name);
  return set && std::string_view(set) == value;
}

}  // namespace

TlsSettings TlsSettings::fromEnvironment() {
  TlsSettings settings;
  settings.enabled = !variableIs("RELAYDASH_TLS", "off");
  if (const char* folder = std::getenv("RELAYDASH_TLS_DIR"); folder && *folder) {
    settings.installedFolder = folder;
  }
  settings.redirect = variableIs("RELAYDASH_TLS_REDIRECT", "on");
  return settings;
}

TlsServer::TlsServer(TlsSettings settings, std::string stateFolder)
    : settings_(std::move(settings)), stateFolder_(std::move(stateFolder)) {
  if (!settings_.enabled) {
    summary_.why = "RELAYDASH_TLS is off";
    return;
  }
  const OpenSsl* ssl = openSsl();
  if (!ssl) {
    summary_.why = openSslMissing();
    return;
  }
  try {
    keys_ = std::make_shared<TicketKeys>(*ssl);
    setUp(unixNow(), currentDeviceNames());
  } catch (const TlsError& e) {
    context_.reset();
    summary_.why = e.what();
  }
}

void TlsServer::setUp(std::int64_t now, const std::vector<std::string>& names) {
  if (!useInstalled()) useOwn(now, names);
  publish();
}

bool TlsServer::useInstalled() {
  const std::optional<CertificateFiles> files = installedCertificate(settings_.installedFolder);
  if (!files) return false;
  try {
    const OpenSsl& ssl = *openSsl();
    const std::optional<std::string> pem = readWholeFile(files->certificate);
    if (!pem) throw TlsError("cannot read " + files->certificate);
    CertificateFacts facts = readCertificate(ssl, *pem);
    context_ = std::make_shared<TlsContext>(ssl, *files, keys_);
    summary_.source = CertificateSource::Installed;
    summary_.certificate = std::move(facts);
    return true;
  } catch (const TlsError& e) {
    notes_.push_back("The certificate in " + settings_.installedFolder +
                     " cannot be used, the device's own is: " + e.what());
    return false;
  }
}

void TlsServer::useOwn(std::int64_t now, const std::vector<std::string>& names) {
  const OpenSsl& ssl = *openSsl();
  OwnCertificate own = ensureOwnCertificate(ssl, stateFolder_, names, now);
  try {
    context_ = std::make_shared<TlsContext>(ssl, own.files, keys_);
  } catch (const TlsError&) {
    // A key that does not fit its certificate (a stop between writing the two): made anew.
    if (own.made) throw;
    own = ensureOwnCertificate(ssl, stateFolder_, names, now, true);
    context_ = std::make_shared<TlsContext>(ssl, own.files, keys_);
  }
  summary_.source = CertificateSource::Generated;
  summary_.certificate = std::move(own.facts);
}

void TlsServer::publish() {
  ::mkdir(stateFolder_.c_str(), 0755);
  summary_.https = true;
  summary_.why.clear();
  summary_.redirect = settings_.redirect;
  if (!writeFingerprint(stateFolder_, summary_.certificate.fingerprint)) {
    notes_.push_back("cannot write " + stateFolder_ + "/fingerprint");
  }
}

std::string TlsServer::startLine() const {
  if (!on()) return "HTTPS is off: " + summary_.why;
  return "HTTPS: certificate SHA-256 fingerprint " + summary_.certificate.fingerprint;
}

std::unique_ptr<StreamLayer> TlsServer::open(int fd, std::string_view received) const {
  if (!context_) return nullptr;
  try {
    return std::make_unique<TlsSession>(context_, fd, received);
  } catch (const TlsError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return nullptr;
  }
}

void TlsServer::rotateTicketKeys() {
  if (keys_) keys_->rotate();
}

void TlsServer::checkCertificate(std::int64_t now, const std::vector<std::string>& names) {
  if (!context_ || summary_.source == CertificateSource::Installed) return;
  if (!needsRenewal(summary_.certificate, names, now)) return;
  try {
    useOwn(now, names);
    publish();
    std::printf("%s (made anew for %zu names)\n", startLine().c_str(), names.size());
    std::fflush(stdout);
  } catch (const TlsError& e) {
    // The certificate in use stays; the next turn tries again.
    std::fprintf(stderr, "the device's certificate could not be made anew: %s\n", e.what());
  }
}

Task<void> TlsServer::maintain() {
  if (!on()) co_return;
  constexpr std::int64_t kLooksPerKey = kTicketKeyLifetimeSeconds / kCheckEverySeconds;
  for (std::int64_t look = 1;; ++look) {
    co_await SleepFor(std::chrono::seconds(kCheckEverySeconds));
    if (look % kLooksPerKey == 0) rotateTicketKeys();
    checkCertificate(unixNow(), currentDeviceNames());
  }
}

}  // namespace relaydash
