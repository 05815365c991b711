#pragma once

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
  // The file is opened now, read-only; a file that does not exist yet has no counter.
  explicit ChangeCounter(const std::string& path);

  // The counter now, or none.
  std::optional<std::uint32_t> read() const noexcept;

 private:
  FileDescriptor file_;
};

}  // namespace relaydash
