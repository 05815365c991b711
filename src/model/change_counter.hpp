#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/file_descriptor.hpp"

namespace relaydash {

// The change counter in a database file's header, which SQLite raises with every transaction
// that writes to a rollback-journal file, from this process or any other (an operator's sqlite3
// shell included): one small read tells whether what was read from the file earlier still
// holds, without SQLite's locks, journal checks and query. A file in WAL mode, where the counter
// may stay, or one that cannot be read this way (no file yet, ":memory:") has no counter, and a
// reader must then ask the database every time.
class ChangeCounter {
 public:
  ChangeCounter() = default;
  explicit ChangeCounter(std::string path);

  // The counter now, or none. A file put in place of the one read before (a backup moved over
  // it) has none at the first read after: its counter says nothing of what was read before.
  std::optional<std::uint32_t> read() noexcept;

 private:
  // Opens the file at path_ again when it is another file than the one open.
  bool reopened() noexcept;

  std::string path_;
  FileDescriptor file_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace relaydash
