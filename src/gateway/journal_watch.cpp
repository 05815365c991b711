#include "gateway/journal_watch.hpp"

#include <errno.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

namespace relaydash {
namespace {

// What journald does to its files and folders: writes (the truncation after each write through
// the map), new, removed and renamed files (rotation, vacuuming), changed attributes.
constexpr std::uint32_t kEvents = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// Reads of the descriptor at one look; a queue longer than that is left for the next look,
// which answers "changed" anyway.
constexpr int kMaxReads = 256;

}  // namespace

JournalWatch::JournalWatch(std::vector<std::string> paths)
    : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), paths_(std::move(paths)) {
  if (!inotify_) return;
  for (const std::string& path : paths_)
    watch(path, true);
}

JournalWatch JournalWatch::fromEnvironment() {
  const char* setting = ::getenv("RELAYDASH_JOURNAL_WATCH");
  std::string_view list = setting ? setting : kDefaultPaths;
  std::vector<std::string> paths;
  while (!list.empty()) {
    const std::size_t colon = std::min(list.find(':'), list.size());
    if (colon > 0) paths.emplace_back(list.substr(0, colon));
    list.remove_prefix(std::min(colon + 1, list.size()));
  }
  return JournalWatch(std::move(paths));
}

bool JournalWatch::watch(const std::string& path, bool parent) {
  std::error_code error;
  const bool directory = std::filesystem::is_directory(path, error);
  const int wd = ::inotify_add_watch(inotify_.get(), path.c_str(), kEvents);
  if (wd < 0) return false;
  watches_[wd] = Watched{path, parent && directory};
  if (parent && directory) watchSubdirectories(path);
  return true;
}

void JournalWatch::watchSubdirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::directory_iterator entries(path, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    std::error_code kind;
    if (entries->is_directory(kind)) watch(entries->path().string(), false);
  }
}

bool JournalWatch::watchMissing() {
  bool added = false;
  for (const std::string& path : paths_) {
    bool watched = false;
    for (const auto& [wd, w] : watches_) {
      if (w.path == path) {
        watched = true;
        break;
      }
    }
    if (!watched && watch(path, true)) added = true;
  }
  return added;
}

bool JournalWatch::drain() {
  alignas(inotify_event) char buffer[16 * 1024];
  bool any = false;
  bool overflow = false;
  for (int reads = 0; reads < kMaxReads; ++reads) {
    const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) return true;  // cannot be read: say changed
    any = true;
    for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += sizeof(inotify_event) + event->len;
      if (event->mask & IN_Q_OVERFLOW) {
        overflow = true;
        continue;
      }
      const auto found = watches_.find(event->wd);
      if (found == watches_.end()) continue;
      if (event->mask & IN_IGNORED) {
        watches_.erase(found);  // removed: tried again at the next look
      } else if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO)) &&
                 found->second.parent && event->len > 0) {
        const std::string folder = found->second.path + "/" + event->name;
        watch(folder, false);
      }
    }
  }
  if (overflow) {
    // New folders may have gone unseen.
    std::vector<std::string> parents;
    for (const auto& [wd, w] : watches_) {
      if (w.parent) parents.push_back(w.path);
    }
    for (const std::string& path : parents)
      watchSubdirectories(path);
  }
  return any;
}

bool JournalWatch::changed() {
  if (!inotify_) return true;
  bool any = drain();
  if (watchMissing()) any = true;
  return any || watches_.empty();
}

}  // namespace relaydash
