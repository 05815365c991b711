#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/file_descriptor.hpp"

namespace relaydash {

// Tells, without running anything, whether the systemd journal may have changed since the last
// look: an inotify descriptor, opened once and never waited on, drained at each look.
//
// A directory is watched with its subdirectories one level down (journald keeps its files in a
// folder named after the machine id; new folders are watched as they appear), a plain file is
// watched itself. A path that does not exist (yet), or whose watch went away (the file was
// removed), is tried again at each look and counts as a change once it is watched. journald
// writes through a memory map, which inotify does not see, and then truncates the file to its
// own size so that watchers get IN_MODIFY.
//
// Errs towards "changed": when nothing could be watched, when the kernel's event queue
// overflowed, or when the descriptor could not be made at all. Never raises.
class JournalWatch {
 public:
  // journald's two places, volatile and persistent.
  static constexpr const char* kDefaultPaths = "/run/log/journal:/var/log/journal";

  explicit JournalWatch(std::vector<std::string> paths);
  // The paths of RELAYDASH_JOURNAL_WATCH (colon-separated), or kDefaultPaths.
  static JournalWatch fromEnvironment();

  JournalWatch(JournalWatch&&) noexcept = default;
  JournalWatch& operator=(JournalWatch&&) noexcept = default;

  // Whether anything happened to the watched files since the last call (or since the watch was
  // made); true whenever that cannot be told.
  bool changed();

 private:
  struct Watched {
    std::string path;
    bool parent = false;  // a directory given, whose new subdirectories are watched too
  };

  // Watches `path` (a directory and its subdirectories, or a file); false when it cannot.
  bool watch(const std::string& path, bool parent);
  void watchSubdirectories(const std::string& path);
  // Watches the given paths that are not watched; true when one was taken up.
  bool watchMissing();
  // Reads every event waiting; true when there was one.
  bool drain();

  FileDescriptor inotify_;
  std::vector<std::string> paths_;
  std::unordered_map<int, Watched> watches_;  // by watch descriptor
};

}  // namespace relaydash
