#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash {

// Who changed the forwarder's configuration, from where, and through which procedure.
struct ChangeAuthor {
  std::string user;       // the signed-in user; empty when unknown
  std::string peer;       // the client's address
  std::string procedure;  // "forwarder-config/apply", ...
};

// One kept version of the configuration file: its exact bytes were the file before a write.
struct ConfigVersion {
  int number = 0;    // 1, 2, 3, ...: never reused while a newer version is kept
  std::string time;  // when it was kept, ISO-8601 UTC with milliseconds
  ChangeAuthor author;
  std::size_t size = 0;  // bytes
};

// A version with its bytes.
struct StoredVersion {
  ConfigVersion version;
  std::string bytes;
};

// The versions of the forwarder's configuration, kept in a folder of their own (history/ beside
// the account database). Each version is one file, "version-NNNNNN": a line of JSON with what
// ConfigVersion holds, then the file's exact bytes. It is written as the configuration itself is
// (a temporary file synced and renamed), so a version is complete or absent: after a crash at any
// moment, only a temporary file can be left over, which listings skip and start-up and the next
// save remove. The newest kKept versions are kept; saving deletes the oldest beyond them.
//
// One thread uses it; nothing here blocks for longer than a few small file operations.
class ConfigHistory {
 public:
  static constexpr std::size_t kKept = 50;

  explicit ConfigHistory(std::string directory);

  const std::string& directory() const noexcept { return directory_; }

  // Newest first. A folder that does not exist yet holds no version; a version file that cannot
  // be read is left out. Raises OSError when the folder cannot be read.
  std::vector<ConfigVersion> list() const;

  // The version and its exact bytes; nullopt when there is no such version.
  std::optional<StoredVersion> read(int number) const;

  // Keeps the bytes as the next version and answers it; creates the folder when it is missing.
  // Raises OSError (a full disk, a folder that cannot be written, ...): nothing is kept then.
  ConfigVersion save(std::string_view bytes, const ChangeAuthor& author);

  // Forgets a version again (when the write it was kept for did not happen). Never raises.
  void remove(int number) noexcept;

  // Removes the temporary files of versions that a save killed midway left in the folder (also
  // those of earlier builds, named ".version-NNNNNN." + six letters or digits), and no other
  // file. Never raises; answers what could not be done, a sentence each for the server's output.
  std::vector<std::string> removeLeftovers() const;

 private:
  std::string fileOf(int number) const;
  void pruneAndTidy() const;

  std::string directory_;
};

}  // namespace relaydash
