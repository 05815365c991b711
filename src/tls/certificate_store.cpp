#include "tls/certificate_store.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "tls/tls_error.hpp"

namespace relaydash {
namespace {

bool endsWith(const std::string& text, std::string_view end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isFile(const std::string& path) {
  struct stat facts {};
  return ::stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
}

// Writes the text to the path through a new file renamed over it, so that a reader never sees
// half of it; the mode is the file's from its creation.
void writeAtomically(const std::string& path, const std::string& text, mode_t mode) {
  const std::string temporary = path + ".new";
  ::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) throw TlsError("cannot write " + temporary + ": " + std::strerror(errno));
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      throw TlsError("cannot write " + temporary + ": " + std::strerror(error));
    }
    done += static_cast<std::size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw TlsError("cannot write " + path + ": " + std::strerror(error));
  }
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

std::optional<CertificateFiles> installedCertificate(const std::string& folder) {
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return std::nullopt;
  std::vector<std::string> certificates;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name[0] != '.' && endsWith(name, ".crt")) certificates.push_back(name);
  }
  ::closedir(listing);
  std::sort(certificates.rbegin(), certificates.rend());
  for (const std::string& name : certificates) {
    CertificateFiles files{folder + "/" + name,
                           folder + "/" + name.substr(0, name.size() - 4) + ".key"};
    if (isFile(files.certificate) && isFile(files.key)) return files;
  }
  return std::nullopt;
}

bool needsRenewal(const CertificateFacts& facts, std::span<const std::string> names,
                  std::int64_t now) {
  if (facts.notAfter - now < kRenewDaysBefore * 86400LL) return true;
  return !std::equal(facts.names.begin(), facts.names.end(), names.begin(), names.end());
}

OwnCertificate ensureOwnCertificate(const OpenSsl& ssl, const std::string& folder,
                                    std::span<const std::string> names, std::int64_t now,
                                    bool remake) {
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    throw TlsError("cannot make " + folder + ": " + std::strerror(errno));
  }
  OwnCertificate own{{folder + "/relaydash.crt", folder + "/relaydash.key"}, {}, false};
  if (const std::optional<std::string> pem = readWholeFile(own.files.certificate);
      pem && isFile(own.files.key) && !remake) {
    try {
      own.facts = readCertificate(ssl, *pem);
      if (!needsRenewal(own.facts, names, now)) return own;
    } catch (const TlsError&) {
      // Unreadable: made anew below.
    }
  }
  const CertificatePem made = makeCertificate(ssl, names, now, kOwnCertificateDays);
  // The key first: a certificate never names a key that is not there yet.
  writeAtomically(own.files.key, made.key, 0600);
  writeAtomically(own.files.certificate, made.certificate, 0644);
  own.facts = readCertificate(ssl, made.certificate);
  own.made = true;
  return own;
}

bool writeFingerprint(const std::string& folder, const std::string& fingerprint) {
  try {
    writeAtomically(folder + "/fingerprint", fingerprint + "\n", 0644);
    return true;
  } catch (const TlsError&) {
    return false;
  }
}

}  // namespace relaydash
