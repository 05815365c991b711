#include "gateway/pending_change.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gateway/atomic_file.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {

void writePendingChange(const std::string& path, const PendingChange& change) {
  JsonNodePtr o = newJObject();
  o->set("version", newJInt(change.version));
  o->set("user", newJString(change.author.user));
  o->set("peer", newJString(change.author.peer));
  o->set("procedure", newJString(change.author.procedure));
  o->set("time", newJString(change.time));
  o->set("hash", newJString(change.hash));
  o->set("restartedAt", newJInt(change.restartedAtUtc));
  o->set("settleMilliseconds", newJInt(change.settleMilliseconds));
  o->set("link", newJBool(change.link));
  writeNewFile(path, toCompact(*o) + "\n", 0600);
}

std::optional<PendingChange> readPendingChange(const std::string& path) {
  std::string text;
  try {
    text = readOwnFile(path);
  } catch (const OSError& e) {
    if (e.errorCode() != ENOENT)
      std::fprintf(stderr, "the record of a change under way cannot be read: %s\n", e.what());
    return std::nullopt;
  }
  try {
    const JsonNodePtr o = parseJson(text);
    const auto string = [&o](std::string_view key) {
      const JsonNodePtr value = o->get(key);
      return value && value->isString() ? value->getString() : std::string();
    };
    const auto integer = [&o](std::string_view key) {
      const JsonNodePtr value = o->get(key);
      return value && value->isInt() ? value->getInt() : 0;
    };
    PendingChange change;
    change.version = static_cast<int>(integer("version"));
    change.author = {string("user"), string("peer"), string("procedure")};
    change.time = string("time");
    change.hash = string("hash");
    change.restartedAtUtc = integer("restartedAt");
    change.settleMilliseconds = integer("settleMilliseconds");
    const JsonNodePtr link = o->get("link");
    change.link = !link || !link->isBool() || link->getBool();
    if (change.version > 0 && !change.hash.empty()) return change;
    std::fprintf(stderr, "the record of a change under way (%s) is incomplete\n", path.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the record of a change under way (%s) is damaged: %s\n", path.c_str(),
                 e.what());
  }
  return std::nullopt;
}

void removePendingChange(const std::string& path) noexcept {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    std::fprintf(stderr, "the record of a change under way (%s) could not be removed: %s\n",
                 path.c_str(), std::strerror(errno));
  }
}

}  // namespace relaydash
