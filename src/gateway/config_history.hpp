#pragma once

#include <cstddef>
#include <cstdint>
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

// What a kept version is and how it ended, as the change that kept it knew.
struct VersionFacts {
  // "before": the file that was in place before the change (the version's author made it);
  // "rejected": a file the change tried and rolled back, or that was refused;
  // "unknown": a version kept by an earlier build, which did not write these facts.
  std::string kind = "before";
  std::string reason;                    // "rejected": why it was rolled back; else empty
  std::vector<std::string> changed;      // "rejected": members it changed, "gateway_conf.x", ...
  std::optional<std::int64_t> ranSince;  // "before": when the file had been written, µs UTC
  std::optional<bool> ranWell;           // "before": the forwarder ran and the server acknowledged
  std::optional<int> restores;           // the version a restore put back in this file's place
};

// One kept version of the configuration file: its exact bytes were the file before a write.
struct ConfigVersion {
  int number = 0;    // 1, 2, 3, ...: never reused while a newer version is kept
  std::string time;  // when it was kept, ISO-8601 UTC with milliseconds
  ChangeAuthor author;
  std::size_t size = 0;  // bytes
  VersionFacts facts;
  // How long the file was in place until it was kept (from facts.ranSince); nullopt if unknown.
  std::optional<std::int64_t> ranSeconds;
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
// save remove. The newest kKept versions are kept, and beyond them the newest one the forwarder
// ran well with (facts.ranWell); saving deletes the others.
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
  ConfigVersion save(std::string_view bytes, const ChangeAuthor& author,
                     const VersionFacts& facts = {});

  // The newest version whose bytes are these (the file on the gateway now, say); nullopt when
  // none is. Raises OSError when the folder cannot be read.
  std::optional<int> newestHolding(std::string_view bytes) const;

  // Forgets a version again (when the write it was kept for did not happen). Never raises.
  void remove(int number) noexcept;

  // Removes the temporary files of versions that a save killed midway left in the folder (also
  // those of earlier builds, named ".version-NNNNNN." + six letters or digits), and no other
  // file. Never raises; answers what could not be done, a sentence each for the server's output.
  std::vector<std::string> removeLeftovers() const;

 private:
  std::string fileOf(int number) const;
  void pruneAndTidy() const;
  // The newest of these versions with facts.ranWell true; 0 when none has it.
  int newestRanWell(const std::vector<int>& numbers) const;

  std::string directory_;
};

// When the file at path was last written (its modification time), µs UTC, for
// VersionFacts::ranSince; nullopt when it cannot be found out.
std::optional<std::int64_t> fileWrittenAt(const std::string& path) noexcept;

// The newest version with facts.ranWell true in a listing (newest first); nullopt when none.
std::optional<int> lastGoodOf(const std::vector<ConfigVersion>& newestFirst);

}  // namespace relaydash
