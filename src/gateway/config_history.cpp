#include "gateway/config_history.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

#include "gateway/atomic_file.hpp"
#include "gateway/text_file.hpp"
#include "gateway/time_text.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kPrefix = "version-";
constexpr int kNumberDigits = 6;

// The number in a version file's name; 0 for any other name.
int numberOf(std::string_view name) {
  if (name.substr(0, kPrefix.size()) != kPrefix || name.size() <= kPrefix.size()) return 0;
  int n = 0;
  for (const char c : name.substr(kPrefix.size())) {
    if (c < '0' || c > '9' || n > 100'000'000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::int64_t nowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// The first line of a version file. The facts' members are written only when they hold
// something, so that a reader tells "not known" from "false"; earlier builds read the members
// they know and pass over the others.
std::string header(const ConfigVersion& v) {
  JsonNodePtr o = newJObject();
  o->set("version", newJInt(v.number));
  o->set("time", newJString(v.time));
  o->set("user", newJString(v.author.user));
  o->set("peer", newJString(v.author.peer));
  o->set("procedure", newJString(v.author.procedure));
  o->set("size", newJInt(static_cast<std::int64_t>(v.size)));
  const VersionFacts& f = v.facts;
  o->set("kind", newJString(f.kind));
  if (!f.reason.empty()) o->set("reason", newJString(f.reason));
  if (!f.changed.empty()) {
    JsonNodePtr changed = newJArray();
    for (const std::string& member : f.changed)
      changed->add(newJString(member));
    o->set("changed", std::move(changed));
  }
  if (f.ranSince) o->set("ranSince", newJInt(*f.ranSince));
  if (v.ranSeconds) o->set("ranSeconds", newJInt(*v.ranSeconds));
  if (f.ranWell) o->set("ranWell", newJBool(*f.ranWell));
  if (f.restores) o->set("restores", newJInt(*f.restores));
  return toCompact(*o);
}

// The facts of a header; kind "unknown" for a header of an earlier build. A member of another
// type than this build writes is read as absent.
void readFacts(const JsonNode& meta, ConfigVersion& v) {
  VersionFacts& f = v.facts;
  const JsonNodePtr kind = meta.get("kind");
  f.kind = kind && kind->isString() && !kind->getString().empty() ? kind->getString() : "unknown";
  if (const JsonNodePtr reason = meta.get("reason")) f.reason = reason->getString();
  if (const JsonNodePtr changed = meta.get("changed"); changed && changed->isArray()) {
    for (const JsonNodePtr& member : changed->array())
      if (member->isString()) f.changed.push_back(member->getString());
  }
  if (const JsonNodePtr since = meta.get("ranSince"); since && since->isInt())
    f.ranSince = since->getInt();
  if (const JsonNodePtr seconds = meta.get("ranSeconds"); seconds && seconds->isInt())
    v.ranSeconds = seconds->getInt();
  if (const JsonNodePtr well = meta.get("ranWell"); well && well->isBool())
    f.ranWell = well->getBool();
  if (const JsonNodePtr restores = meta.get("restores"); restores && restores->isInt())
    f.restores = static_cast<int>(restores->getInt());
}

// A version file as it was written, or nullopt for anything else.
std::optional<StoredVersion> readVersion(const std::string& path, int number) {
  std::string text;
  try {
    text = readOwnFile(path);
  } catch (const OSError&) {
    return std::nullopt;
  }
  const std::size_t newline = text.find('\n');
  if (newline == std::string::npos) return std::nullopt;
  JsonNodePtr meta;
  try {
    meta = parseJson(std::string_view(text).substr(0, newline));
  } catch (const JsonParsingError&) {
    return std::nullopt;
  }
  const auto string = [&meta](std::string_view key) {
    const JsonNodePtr value = meta->get(key);
    return value ? value->getString() : std::string();
  };
  StoredVersion file;
  file.version.number = number;
  file.version.time = string("time");
  file.version.author = {string("user"), string("peer"), string("procedure")};
  readFacts(*meta, file.version);
  const JsonNodePtr size = meta->get("size");
  file.bytes = text.substr(newline + 1);
  if (!size || size->getInt(-1) != static_cast<std::int64_t>(file.bytes.size()))
    return std::nullopt;
  file.version.size = file.bytes.size();
  return file;
}

// The version files' numbers, oldest first.
std::vector<int> listDirectory(const std::string& directory) {
  std::vector<int> numbers;
  // Plain readdir rather than std::filesystem, which would link a large part of the C++
  // library's file system and locale code into the program.
  const auto close = [](DIR* d) { ::closedir(d); };
  const std::unique_ptr<DIR, decltype(close)> dir(::opendir(directory.c_str()), close);
  if (!dir) {
    if (errno == ENOENT) return numbers;
    raiseOSError();
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (const int n = numberOf(entry->d_name); n > 0) numbers.push_back(n);
    errno = 0;
  }
  if (errno != 0) raiseOSError();
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace

ConfigHistory::ConfigHistory(std::string directory) : directory_(std::move(directory)) {}

std::string ConfigHistory::fileOf(int number) const {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*d", kNumberDigits, number);
  return directory_ + "/" + std::string(kPrefix) + digits;
}

std::vector<ConfigVersion> ConfigHistory::list() const {
  const std::vector<int> numbers = listDirectory(directory_);
  std::vector<ConfigVersion> versions;
  for (auto n = numbers.rbegin(); n != numbers.rend(); ++n) {
    if (std::optional<StoredVersion> file = readVersion(fileOf(*n), *n))
      versions.push_back(std::move(file->version));
  }
  return versions;
}

std::optional<StoredVersion> ConfigHistory::read(int number) const {
  if (number <= 0) return std::nullopt;
  return readVersion(fileOf(number), number);
}

ConfigVersion ConfigHistory::save(std::string_view bytes, const ChangeAuthor& author,
                                  const VersionFacts& facts) {
  if (::mkdir(directory_.c_str(), 0755) != 0 && errno != EEXIST) raiseOSError();
  const std::vector<int> numbers = listDirectory(directory_);
  const std::int64_t now = nowMicroseconds();
  ConfigVersion version;
  version.number = numbers.empty() ? 1 : numbers.back() + 1;
  version.time = formatIsoUtc(now, true);
  version.author = author;
  version.size = bytes.size();
  version.facts = facts;
  if (facts.ranSince) version.ranSeconds = (now - *facts.ranSince) / 1'000'000;
  std::string text = header(version);
  text += '\n';
  text.append(bytes);
  // The file may hold secrets of the network server's: only the server's own user reads it.
  writeNewFile(fileOf(version.number), text, 0600);
  pruneAndTidy();
  return version;
}

std::optional<int> ConfigHistory::newestHolding(std::string_view bytes) const {
  const std::vector<int> numbers = listDirectory(directory_);
  for (auto n = numbers.rbegin(); n != numbers.rend(); ++n) {
    const std::optional<StoredVersion> file = readVersion(fileOf(*n), *n);
    if (file && file->bytes == bytes) return *n;
  }
  return std::nullopt;
}

int ConfigHistory::newestRanWell(const std::vector<int>& numbers) const {
  for (auto n = numbers.rbegin(); n != numbers.rend(); ++n) {
    const std::optional<StoredVersion> file = readVersion(fileOf(*n), *n);
    if (file && file->version.facts.ranWell.value_or(false)) return *n;
  }
  return 0;
}

void ConfigHistory::remove(int number) noexcept {
  if (number > 0) ::unlink(fileOf(number).c_str());
}

std::vector<std::string> ConfigHistory::removeLeftovers() const {
  return removeTemporaryFiles(
      directory_, [](std::string_view target) { return numberOf(target) > 0; }, true);
}

void ConfigHistory::pruneAndTidy() const {
  // The new version is in place: from here on nothing may fail the save.
  try {
    const std::vector<int> numbers = listDirectory(directory_);
    if (numbers.size() > kKept) {
      // The newest version the forwarder ran well with stays, however many came after it: it is
      // the one to go back to.
      const int lastGood = newestRanWell(numbers);
      for (std::size_t i = 0; i + kKept < numbers.size(); ++i)
        if (numbers[i] != lastGood) ::unlink(fileOf(numbers[i]).c_str());
    }
    for (const std::string& problem : removeLeftovers())
      std::fprintf(stderr, "%s\n", problem.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the history folder %s could not be tidied: %s\n", directory_.c_str(),
                 e.what());
  }
}

std::optional<std::int64_t> fileWrittenAt(const std::string& path) noexcept {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000 +
         static_cast<std::int64_t>(info.st_mtim.tv_nsec) / 1000;
}

std::optional<int> lastGoodOf(const std::vector<ConfigVersion>& newestFirst) {
  for (const ConfigVersion& v : newestFirst)
    if (v.facts.ranWell.value_or(false)) return v.number;
  return std::nullopt;
}

}  // namespace relaydash
