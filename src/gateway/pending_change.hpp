#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "gateway/config_history.hpp"

namespace relaydash {

// A change whose new file is in place and whose forwarder is being restarted and watched. It is
// written down before the restart and removed once the change has ended, so that a relaydash
// stopped in between (killed, or the board lost power) finds it when it starts again and
// finishes the watch: a file that breaks the gateway is not left in place unwatched.
struct PendingChange {
  int version = 0;  // the history's version of the file before the change
  ChangeAuthor author;
  std::string time;                 // when the change began, ISO-8601 UTC
  std::string hash;                 // contentHash of the new file
  std::int64_t restartedAtUtc = 0;  // microseconds
  std::int64_t settleMilliseconds = 15'000;
  bool link = true;  // the link was to be judged too
};

// Writes the record (a temporary file synced and renamed, readable by the server's user only).
// Raises OSError.
void writePendingChange(const std::string& path, const PendingChange& change);

// The record at path; nullopt when there is none, or it cannot be read (then it is reported on
// standard error).
std::optional<PendingChange> readPendingChange(const std::string& path);

// Removes the record. Never raises; a failure is reported on standard error.
void removePendingChange(const std::string& path) noexcept;

}  // namespace relaydash
