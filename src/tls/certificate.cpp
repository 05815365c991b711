#include "tls/certificate.hpp"

#include <arpa/inet.h>

#include <ctime>
#include <memory>

#include "tls/tls_error.hpp"

namespace relaydash {
namespace {

// Owners of OpenSSL's objects, each freed by the function the library gives for it.
template <typename T>
struct Freer {
  void (*release)(T*);
  void operator()(T* object) const noexcept {
    if (object) release(object);
  }
};
template <typename T>
using Owned = std::unique_ptr<T, Freer<T>>;

void require(bool ok, const OpenSsl& ssl, const char* what) {
  if (!ok) throw TlsError(std::string(what) + ": " + openSslError(ssl, "failed"));
}

bool isAddress(const std::string& name) {
  unsigned char bytes[16];
  return ::inet_pton(AF_INET, name.c_str(), bytes) == 1 ||
         ::inet_pton(AF_INET6, name.c_str(), bytes) == 1;
}

// The subjectAltName value as OpenSSL's configuration text: "DNS:gw,DNS:gw.local,IP:10.0.0.2".
std::string alternativeNames(std::span<const std::string> names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ',';
    text += isAddress(name) ? "IP:" : "DNS:";
    text += name;
  }
  return text;
}

void addExtension(const OpenSsl& ssl, X509* certificate, int nid, const std::string& value) {
  X509V3_CTX context{};
  ssl.x509v3SetContext(&context, certificate, certificate, nullptr, nullptr, 0);
  Owned<X509_EXTENSION> extension(ssl.x509v3Extension(nullptr, &context, nid, value.c_str()),
                                  {ssl.x509ExtensionFree});
  require(extension != nullptr, ssl, "certificate extension");
  require(ssl.x509AddExtension(certificate, extension.get(), -1) == 1, ssl,
          "certificate extension");
}

std::string memoryText(const OpenSsl& ssl, BIO* memory) {
  char* data = nullptr;
  const long size = ssl.bioCtrl(memory, BIO_CTRL_INFO, 0, &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string hexPairs(const unsigned char* bytes, unsigned size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned i = 0; i < size; ++i) {
    if (i > 0) text += ':';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string generalName(const OpenSsl& ssl, const GENERAL_NAME* name) {
  const ASN1_STRING* value = nullptr;
  if (name->type == GEN_DNS) value = name->d.dNSName;
  if (name->type == GEN_IPADD) value = name->d.iPAddress;
  if (!value) return {};
  const unsigned char* data = ssl.asn1Data(value);
  const int length = ssl.asn1Length(value);
  if (name->type == GEN_DNS) return std::string(reinterpret_cast<const char*>(data), length);
  char text[INET6_ADDRSTRLEN] = {};
  if (length == 4) ::inet_ntop(AF_INET, data, text, sizeof text);
  if (length == 16) ::inet_ntop(AF_INET6, data, text, sizeof text);
  return text;
}

}  // namespace

CertificatePem makeCertificate(const OpenSsl& ssl, std::span<const std::string> names,
                               std::int64_t now, int days) {
  if (names.empty()) throw TlsError("a certificate needs a name");
  Owned<EVP_PKEY> key(ssl.keygen(nullptr, nullptr, "EC", "P-256"), {ssl.keyFree});
  require(key != nullptr, ssl, "key generation");
  Owned<X509> certificate(ssl.x509New(), {ssl.x509Free});
  require(certificate != nullptr, ssl, "certificate");
  X509* x = certificate.get();
  require(ssl.x509SetVersion(x, X509_VERSION_3) == 1, ssl, "certificate version");
  // A random serial number, positive and below 2^63: each certificate made here is told apart
  // from the one it replaces, which browsers insist on.
  std::uint64_t serial = 0;
  require(ssl.randBytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) == 1, ssl,
          "serial number");
  require(ssl.asn1IntegerSetUint64(ssl.x509Serial(x), (serial >> 1) | 1) == 1, ssl,
          "serial number");
  require(ssl.asn1TimeSet(ssl.x509NotBefore(x), static_cast<time_t>(now - 3600)) != nullptr, ssl,
          "validity");
  require(
      ssl.asn1TimeSet(ssl.x509NotAfter(x), static_cast<time_t>(now + days * 86400LL)) != nullptr,
      ssl, "validity");
  require(ssl.x509SetPubkey(x, key.get()) == 1, ssl, "public key");
  X509_NAME* subject = ssl.x509Subject(x);
  const std::string& commonName = names.front();
  require(ssl.x509NameAdd(subject, "CN", MBSTRING_UTF8,
                          reinterpret_cast<const unsigned char*>(commonName.c_str()),
                          static_cast<int>(commonName.size()), -1, 0) == 1,
          ssl, "subject");
  require(ssl.x509NameAdd(subject, "O", MBSTRING_UTF8,
                          reinterpret_cast<const unsigned char*>("relaydash"), -1, -1, 0) == 1,
          ssl, "subject");
  require(ssl.x509SetIssuer(x, subject) == 1, ssl, "issuer");
  addExtension(ssl, x, NID_basic_constraints, "critical,CA:FALSE");
  addExtension(ssl, x, NID_key_usage, "critical,digitalSignature");
  addExtension(ssl, x, NID_ext_key_usage, "serverAuth");
  addExtension(ssl, x, NID_subject_key_identifier, "hash");
  addExtension(ssl, x, NID_subject_alt_name, alternativeNames(names));
  require(ssl.x509Sign(x, key.get(), ssl.sha256()) > 0, ssl, "signature");

  CertificatePem pem;
  Owned<BIO> certificateText(ssl.bioNew(ssl.bioMemory()), {ssl.bioFreeAll});
  require(certificateText && ssl.pemWriteCertificate(certificateText.get(), x) == 1, ssl,
          "certificate text");
  pem.certificate = memoryText(ssl, certificateText.get());
  Owned<BIO> keyText(ssl.bioNew(ssl.bioMemory()), {ssl.bioFreeAll});
  require(keyText &&
              ssl.pemWriteKey(keyText.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
          ssl, "key text");
  pem.key = memoryText(ssl, keyText.get());
  return pem;
}

CertificateFacts readCertificate(const OpenSsl& ssl, std::string_view pem) {
  Owned<BIO> memory(ssl.bioNewMemoryBuffer(pem.data(), static_cast<int>(pem.size())),
                    {ssl.bioFreeAll});
  require(memory != nullptr, ssl, "certificate");
  Owned<X509> certificate(ssl.pemReadCertificate(memory.get(), nullptr, nullptr, nullptr),
                          {ssl.x509Free});
  if (!certificate) throw TlsError("no certificate: " + openSslError(ssl, "unreadable"));
  CertificateFacts facts;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  require(ssl.x509Digest(certificate.get(), ssl.sha256(), digest, &size) == 1, ssl, "fingerprint");
  facts.fingerprint = hexPairs(digest, size);
  std::tm end{};
  require(ssl.asn1TimeToTm(ssl.x509NotAfterOf(certificate.get()), &end) == 1, ssl, "validity");
  facts.notAfter = ::timegm(&end);
  if (auto* names = static_cast<GENERAL_NAMES*>(
          ssl.x509ExtensionData(certificate.get(), NID_subject_alt_name, nullptr, nullptr))) {
    const auto* stack = reinterpret_cast<const OPENSSL_STACK*>(names);
    for (int i = 0; i < ssl.stackSize(stack); ++i) {
      const auto* name = static_cast<const GENERAL_NAME*>(ssl.stackValue(stack, i));
      if (std::string text = generalName(ssl, name); !text.empty()) {
        facts.names.push_back(std::move(text));
      }
    }
    ssl.generalNamesFree(names);
  }
  ssl.errClear();
  return facts;
}

}  // namespace relaydash
