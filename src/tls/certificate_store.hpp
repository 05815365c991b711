#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "tls/certificate.hpp"
#include "tls/openssl.hpp"

namespace relaydash {

// Where a certificate and its key lie.
struct CertificateFiles {
  std::string certificate;
  std::string key;

  bool operator==(const CertificateFiles&) const = default;
};

// The operator's own certificate in the folder: NAME.crt (PEM; the chain may follow it) with
// NAME.key beside it, the last such pair in name order. None when the folder has none or
// cannot be read.
std::optional<CertificateFiles> installedCertificate(const std::string& folder);

// The device's own certificate lasts this long, and is made anew this long before it ends.
inline constexpr int kOwnCertificateDays = 397;
inline constexpr int kRenewDaysBefore = 30;

// Whether the device's own certificate must be made anew: its names are not the names given,
// or it ends within kRenewDaysBefore days of `now`.
bool needsRenewal(const CertificateFacts& facts, std::span<const std::string> names,
                  std::int64_t now);

// The device's own certificate, relaydash.crt and relaydash.key (mode 0600) in the folder
// (made if missing): kept when it serves the names, made anew when it is missing, unreadable
// or needs renewal. TlsError when it can be neither read nor made.
struct OwnCertificate {
  CertificateFiles files;
  CertificateFacts facts;
  bool made = false;
};
// With `remake`, made anew whatever it holds (its key turned out not to fit it).
OwnCertificate ensureOwnCertificate(const OpenSsl& ssl, const std::string& folder,
                                    std::span<const std::string> names, std::int64_t now,
                                    bool remake = false);

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// Writes the fingerprint of the certificate in use to the folder's file "fingerprint", one
// line, for the installation's message and the operator's scripts. False when it cannot.
bool writeFingerprint(const std::string& folder, const std::string& fingerprint);

}  // namespace relaydash
