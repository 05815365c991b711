#include "tls/tls_server.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "runtime/event_loop.hpp"
#include "runtime/print_line.hpp"
#include "runtime/process.hpp"
#include "tls/device_names.hpp"
#include "tls/tls_error.hpp"
#include "tls/tls_session.hpp"

namespace relaydash {
namespace {

// Loading OpenSSL and making a key take a few milliseconds, far longer on a slow board.
constexpr std::chrono::seconds kChoiceTimeout{60};

std::int64_t unixNow() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

bool variableIs(const char* name, const char* value) {
  const char* set = std::getenv(name);
  return set && std::string_view(set) == value;
}

std::string fingerprintLine(const std::string& fingerprint) {
  return "HTTPS: certificate SHA-256 fingerprint " + fingerprint;
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
  std::optional<EventLoop> own;
  if (!EventLoop::exists()) own.emplace();
  CertificateChoice choice =
      EventLoop::current().blockOn(choose(unixNow(), currentDeviceNames(), false));
  for (std::string& note : choice.notes)
    notes_.push_back(std::move(note));
  if (choice.https) {
    adopt(std::move(choice));
  } else {
    summary_.why = std::move(choice.why);
  }
}

Task<CertificateChoice> TlsServer::choose(std::int64_t now, std::vector<std::string> names,
                                          bool onlyOwn) {
  if (!loaded()) {
    const ProcessResult chosen = co_await runForked(
        [this, now, &names, onlyOwn] {
          return encodeChoice(
              chooseCertificate(settings_.installedFolder, stateFolder_, now, names, onlyOwn));
        },
        ProcessLimits{.timeout = kChoiceTimeout});
    if (chosen.started()) {
      if (chosen.status == 0) {
        if (std::optional<CertificateChoice> choice = decodeChoice(chosen.output)) {
          co_return std::move(*choice);
        }
      }
      co_return CertificateChoice::none(
          "the certificate could not be chosen (the check ended with status " +
          std::to_string(chosen.status) +
          (chosen.errorOutput.empty() ? "" : ": " + chosen.errorOutput) + ")");
    }
    // No process can be made now: chosen here, at the cost of OpenSSL's memory.
  }
  co_return chooseCertificate(settings_.installedFolder, stateFolder_, now, names, onlyOwn);
}

void TlsServer::adopt(CertificateChoice choice) {
  files_ = std::move(choice.files);
  summary_.https = true;
  summary_.why.clear();
  summary_.source = choice.source;
  summary_.certificate = std::move(choice.facts);
  summary_.redirect = settings_.redirect;
  if (!context_) return;
  try {
    context_ = std::make_shared<TlsContext>(*openSsl(), files_, keys_);
  } catch (const TlsError& e) {
    // The context in use stays, with the certificate it has.
    std::fprintf(stderr, "the new certificate cannot be served: %s\n", e.what());
  }
}

bool TlsServer::load() {
  if (context_) return true;
  if (!summary_.https) return false;
  try {
    const OpenSsl* ssl = openSsl();
    if (!ssl) throw TlsError(openSslMissing());
    if (!keys_) keys_ = std::make_shared<TicketKeys>(*ssl);
    context_ = std::make_shared<TlsContext>(*ssl, files_, keys_);
    // The operator may have put another certificate in place since it was chosen: what is
    // told of it is what is served.
    if (const std::optional<std::string> pem = readWholeFile(files_.certificate)) {
      CertificateFacts facts = readCertificate(*ssl, *pem);
      if (facts.fingerprint != summary_.certificate.fingerprint) {
        summary_.certificate = std::move(facts);
        printLine(startLine());
      }
    }
    return true;
  } catch (const TlsError& e) {
    context_.reset();
    summary_.https = false;
    summary_.why = e.what();
    printLine(startLine());
    return false;
  }
}

std::string TlsServer::startLine() const {
  if (!on()) return "HTTPS is off: " + summary_.why;
  return fingerprintLine(summary_.certificate.fingerprint);
}

std::unique_ptr<StreamLayer> TlsServer::open(int fd, std::string_view received) {
  if (!load()) return nullptr;
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

Task<void> TlsServer::checkCertificate(std::int64_t now, std::vector<std::string> names) {
  if (!on() || summary_.source == CertificateSource::Installed) co_return;
  if (!needsRenewal(summary_.certificate, names, now)) co_return;
  CertificateChoice choice = co_await choose(now, names, true);
  if (!choice.https) {
    // The certificate in use stays; the next turn tries again.
    std::fprintf(stderr, "the device's certificate could not be made anew: %s\n",
                 choice.why.c_str());
    co_return;
  }
  adopt(std::move(choice));
  printLine(startLine() + " (made anew for " + std::to_string(names.size()) + " names)");
}

Task<void> TlsServer::maintain() {
  if (!on()) co_return;
  constexpr std::int64_t kLooksPerKey = kTicketKeyLifetimeSeconds / kCheckEverySeconds;
  for (std::int64_t look = 1;; ++look) {
    co_await SleepFor(std::chrono::seconds(kCheckEverySeconds));
    if (look % kLooksPerKey == 0) rotateTicketKeys();
    co_await checkCertificate(unixNow(), currentDeviceNames());
  }
}

}  // namespace relaydash
