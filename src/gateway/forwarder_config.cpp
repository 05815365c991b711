#include "gateway/forwarder_config.hpp"

#include <sys/stat.h>

#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "gateway/forwarder_reader.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {

JsonNodePtr readConfigDocument(std::string_view text) {
  try {
    return parseJson(text);
  } catch (const JsonParsingError&) {
    ForwarderReading reading = readAsForwarder(text);
    if (!reading.document) throw;
    return std::move(reading.document);
  }
}

namespace {

// What tells one version of a file from another without reading it: a replacement by rename
// has another inode, a write in place another size or change time.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& o) const noexcept {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) return std::nullopt;
  return FileIdentity{s.st_dev, s.st_ino, s.st_size, s.st_mtim, s.st_ctim};
}

// File times advance in steps of the kernel's clock tick: a file changed within the last
// seconds could change again with the same times and size, so it is not trusted yet.
bool settled(const FileIdentity& id) {
  constexpr std::time_t kSettled = 2;
  const std::time_t now = std::time(nullptr);
  return id.changed.tv_sec < now - kSettled && id.modified.tv_sec < now - kSettled;
}

// The last file read: its path, what it was when read, and its document.
struct Remembered {
  std::string path;
  FileIdentity identity;
  JsonNodePtr document;
};

Remembered& remembered() {
  static Remembered last;
  return last;
}

}  // namespace

Task<JsonNodePtr> getForwarderConfig(std::string path) {
  // Taken before the read: a file that changes after it has another identity at the next call.
  const std::optional<FileIdentity> identity = identityOf(path);
  Remembered& last = remembered();
  if (identity && last.document && last.path == path && last.identity == *identity &&
      settled(*identity)) {
    co_return last.document;
  }
  JsonNodePtr document = readConfigDocument(readTextFile(path));
  if (identity && settled(*identity)) {
    last = Remembered{std::move(path), *identity, document};
  } else {
    last = Remembered{};
  }
  co_return document;
}

Task<void> updateForwarderConfig(std::string path, JsonNodePtr patch) {
  const JsonNodePtr current = readConfigDocument(readTextFile(path));
  const std::string text = toPretty(*merge(*current, *patch), 2);
  // A file that cannot be read back is never written (the parser refuses the numbers a double
  // cannot hold, so none reaches the writer; this stays the last guard).
  try {
    parseJson(text);
  } catch (const JsonParsingError& e) {
    throw std::invalid_argument(std::string("the patched configuration is not valid JSON: ") +
                                e.what());
  }
  replaceFile(path, text);
  co_return;
}

JsonNodePtr merge(const JsonNode& base, const JsonNode& patch) {
  if (!base.isObject() || !patch.isObject()) return copy(patch);
  const JsonObject& old = base.object();
  const JsonObject& changes = patch.object();
  JsonNodePtr result = newJObject();
  JsonObject& members = result->object();
  members.reserve(old.size() + changes.size());
  for (const auto& [key, value] : old) {
    if (!changes.contains(key)) members.set(key, copy(*value));
  }
  for (const auto& [key, value] : changes) {
    const JsonNodePtr* previous = old.find(key);
    members.set(key, previous ? merge(**previous, *value) : copy(*value));
  }
  return result;
}

}  // namespace relaydash
