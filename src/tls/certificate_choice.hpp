#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tls/certificate.hpp"
#include "tls/certificate_store.hpp"

namespace relaydash {

// Which certificate is in use: one made by this device, or one the operator installed.
enum class CertificateSource { Generated, Installed };

// The certificate HTTPS serves and what is told of it; or why there is none.
struct CertificateChoice {
  bool https = false;
  std::string why;
  CertificateSource source = CertificateSource::Generated;
  CertificateFiles files;
  CertificateFacts facts;
  // Worth printing besides: an installed certificate that could not be used.
  std::vector<std::string> notes;

  // No certificate: HTTPS is off, for that reason.
  static CertificateChoice none(std::string why) {
    CertificateChoice choice;
    choice.why = std::move(why);
    return choice;
  }
  bool operator==(const CertificateChoice&) const = default;
};

// Chooses in this process, loading OpenSSL: the operator's certificate in `installedFolder`
// when it can be used (its key fits it), otherwise the device's own in `stateFolder`, made or
// made anew for the names as needed (ensureOwnCertificate), whose fingerprint is written there.
// With `onlyOwn`, the operator's folder is not looked at.
CertificateChoice chooseCertificate(const std::string& installedFolder,
                                    const std::string& stateFolder, std::int64_t now,
                                    std::span<const std::string> names, bool onlyOwn = false);

// The choice as bytes, to come back from another process, and read again: nullopt for bytes
// that are not such a choice.
std::string encodeChoice(const CertificateChoice& choice);
std::optional<CertificateChoice> decodeChoice(std::string_view bytes);

}  // namespace relaydash
