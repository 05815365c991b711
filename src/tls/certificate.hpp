#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tls/openssl.hpp"

namespace relaydash {

// What the server tells of a certificate: its SHA-256 fingerprint as upper-case hex pairs
// joined by ':' ("AB:01:…:FF", as browsers show it), its subject alternative names (DNS names
// and IP addresses, in the certificate's order) and the end of its validity (Unix seconds).
struct CertificateFacts {
  std::string fingerprint;
  std::vector<std::string> names;
  std::int64_t notAfter = 0;

  bool operator==(const CertificateFacts&) const = default;
};

// A certificate and its private key, as PEM text.
struct CertificatePem {
  std::string certificate;
  std::string key;
};

// A self-signed ECDSA P-256 certificate for the names (host names and IP addresses; the first
// is also the subject's common name), valid from an hour before `now` for `days` days, for
// TLS servers only. TlsError when it cannot be made.
CertificatePem makeCertificate(const OpenSsl& ssl, std::span<const std::string> names,
                               std::int64_t now, int days);

// The facts of the first certificate in PEM text. TlsError when there is none.
CertificateFacts readCertificate(const OpenSsl& ssl, std::string_view pem);

}  // namespace relaydash
