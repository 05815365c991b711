#include "tls/certificate_choice.hpp"

#include <sys/stat.h>

#include <charconv>

#include "tls/tls_context.hpp"
#include "tls/tls_error.hpp"

namespace relaydash {
namespace {

// Whether the key fits the certificate and OpenSSL takes both, as a server would load them.
void checkUsable(const OpenSsl& ssl, const CertificateFiles& files) {
  const TlsContext trial(ssl, files, std::make_shared<TicketKeys>(ssl));
}

std::optional<CertificateChoice> installed(const OpenSsl& ssl, const std::string& folder,
                                           std::vector<std::string>& notes) {
  const std::optional<CertificateFiles> files = installedCertificate(folder);
  if (!files) return std::nullopt;
  try {
    const std::optional<std::string> pem = readWholeFile(files->certificate);
    if (!pem) throw TlsError("cannot read " + files->certificate);
    CertificateChoice choice;
    choice.facts = readCertificate(ssl, *pem);
    checkUsable(ssl, *files);
    choice.source = CertificateSource::Installed;
    choice.files = *files;
    return choice;
  } catch (const TlsError& e) {
    notes.push_back("The certificate in " + folder +
                    " cannot be used, the device's own is: " + e.what());
    return std::nullopt;
  }
}

CertificateChoice own(const OpenSsl& ssl, const std::string& folder,
                      std::span<const std::string> names, std::int64_t now) {
  OwnCertificate made = ensureOwnCertificate(ssl, folder, names, now);
  try {
    checkUsable(ssl, made.files);
  } catch (const TlsError&) {
    // A key that does not fit its certificate (a stop between writing the two): made anew.
    if (made.made) throw;
    made = ensureOwnCertificate(ssl, folder, names, now, true);
    checkUsable(ssl, made.files);
  }
  CertificateChoice choice;
  choice.source = CertificateSource::Generated;
  choice.files = std::move(made.files);
  choice.facts = std::move(made.facts);
  return choice;
}

// Fields end with a NUL byte: no path, name or message holds one.
void put(std::string& out, std::string_view field) {
  out.append(field);
  out.push_back('\0');
}

class Fields {
 public:
  explicit Fields(std::string_view bytes) : rest_(bytes) {}
  std::optional<std::string_view> next() {
    const std::size_t end = rest_.find('\0');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view field = rest_.substr(0, end);
    rest_.remove_prefix(end + 1);
    return field;
  }
  std::optional<std::int64_t> number() {
    const std::optional<std::string_view> field = next();
    if (!field) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(field->data(), field->data() + field->size(), value);
    if (error != std::errc() || end != field->data() + field->size()) return std::nullopt;
    return value;
  }
  // A count followed by that many fields.
  bool list(std::vector<std::string>& into) {
    const std::optional<std::int64_t> count = number();
    if (!count || *count < 0) return false;
    for (std::int64_t i = 0; i < *count; ++i) {
      const std::optional<std::string_view> field = next();
      if (!field) return false;
      into.emplace_back(*field);
    }
    return true;
  }
  bool done() const noexcept { return rest_.empty(); }

 private:
  std::string_view rest_;
};

void putList(std::string& out, const std::vector<std::string>& list) {
  put(out, std::to_string(list.size()));
  for (const std::string& item : list)
    put(out, item);
}

}  // namespace

CertificateChoice chooseCertificate(const std::string& installedFolder,
                                    const std::string& stateFolder, std::int64_t now,
                                    std::span<const std::string> names, bool onlyOwn) {
  const OpenSsl* ssl = openSsl();
  if (!ssl) return CertificateChoice::none(openSslMissing());
  std::vector<std::string> notes;
  CertificateChoice choice;
  try {
    std::optional<CertificateChoice> theirs;
    if (!onlyOwn) theirs = installed(*ssl, installedFolder, notes);
    choice = theirs ? std::move(*theirs) : own(*ssl, stateFolder, names, now);
    choice.https = true;
    ::mkdir(stateFolder.c_str(), 0755);
    if (!writeFingerprint(stateFolder, choice.facts.fingerprint)) {
      notes.push_back("cannot write " + stateFolder + "/fingerprint");
    }
  } catch (const TlsError& e) {
    choice = CertificateChoice::none(e.what());
  }
  choice.notes = std::move(notes);
  return choice;
}

std::string encodeChoice(const CertificateChoice& choice) {
  std::string out;
  put(out, choice.https ? "on" : "off");
  put(out, choice.why);
  put(out, choice.source == CertificateSource::Installed ? "installed" : "generated");
  put(out, choice.files.certificate);
  put(out, choice.files.key);
  put(out, choice.facts.fingerprint);
  putList(out, choice.facts.names);
  put(out, std::to_string(choice.facts.notAfter));
  putList(out, choice.notes);
  return out;
}

std::optional<CertificateChoice> decodeChoice(std::string_view bytes) {
  Fields fields(bytes);
  CertificateChoice choice;
  const auto https = fields.next();
  const auto why = fields.next();
  const auto source = fields.next();
  const auto certificate = fields.next();
  const auto key = fields.next();
  const auto fingerprint = fields.next();
  if (!https || !why || !source || !certificate || !key || !fingerprint) return std::nullopt;
  if ((*https != "on" && *https != "off") || (*source != "installed" && *source != "generated"))
    return std::nullopt;
  choice.https = *https == "on";
  choice.why = *why;
  choice.source =
      *source == "installed" ? CertificateSource::Installed : CertificateSource::Generated;
  choice.files = {std::string(*certificate), std::string(*key)};
  choice.facts.fingerprint = *fingerprint;
  if (!fields.list(choice.facts.names)) return std::nullopt;
  const std::optional<std::int64_t> notAfter = fields.number();
  if (!notAfter) return std::nullopt;
  choice.facts.notAfter = *notAfter;
  if (!fields.list(choice.notes) || !fields.done()) return std::nullopt;
  return choice;
}

}  // namespace relaydash
