#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/change_counter.hpp"
#include "model/database.hpp"
#include "model/metrics_key_table.hpp"

namespace relaydash {

// A change of the keys that was refused; nothing was written.
class MetricsKeyError : public std::runtime_error {
 public:
  enum class Kind {
    UnknownId,      // no key in use has that id (never made, or revoked already)
    BadName,        // not a name metricsKeyName accepts
    TooMany,        // kMaxValid keys are in use already
    DuplicateName,  // a key in use has that name
  };
  MetricsKeyError(Kind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// A key as it is made: the one time its text exists outside the client that asked for it.
struct NewMetricsKey {
  std::int64_t id = 0;
  std::string name;
  std::string key;
  std::int64_t createdAt = 0;  // microseconds since 1970-01-01 UTC
};

// The keys that may read /metrics: long-lived and read-only, each named by the operator, kept in
// the account database as hashes only (metrics_key_table.hpp). A key is kPrefix and the 43
// base64url characters of 32 random bytes: with 256 bits to guess, a fast hash keeps it as safe
// as a slow one would.
//
// accepts is asked at every scrape, so the hashes of the keys in use are kept in memory and read
// again only when the database file has changed (its change counter: change_counter.hpp) or
// this object changed them: a key revoked here or by another process is refused at the next
// scrape, and a scrape of an unchanged file opens no database. Last uses are kept in memory and
// written to the database at most once every kLastUseWrittenEvery per key, so that scrapes do not
// keep the database open.
//
// Used on the event loop's thread. Raises DbError when the database cannot be read.
class MetricsKeys {
 public:
  static constexpr std::string_view kPrefix = "rdm_";
  static constexpr std::size_t kKeyBytes = kPrefix.size() + 43;
  // Keys in use at once.
  static constexpr std::size_t kMaxValid = 32;
  static constexpr std::chrono::minutes kLastUseWrittenEvery{10};

  explicit MetricsKeys(Database& database) : database_(&database) {}

  // Whether `key` is a key that was created and is not revoked. `now` (microseconds since 1970
  // UTC, the system clock's when not given) is kept as the key's last use.
  bool accepts(std::string_view key);
  bool accepts(std::string_view key, std::int64_t now);

  // A new key named name (trimmed): raises MetricsKeyError (BadName, DuplicateName, TooMany).
  NewMetricsKey create(std::string_view name, std::int64_t now);
  // Revokes the key in use of that id and answers its name: raises MetricsKeyError (UnknownId).
  std::string revoke(std::int64_t id, std::int64_t now);
  // Every key made, revoked ones included, oldest first, with the last uses seen here.
  std::vector<MetricsKeyRow> list();

 private:
  // The connection, with the table made on first use.
  const Db& connection();
  // Reads the hashes again when the file changed since they were read.
  void refresh();
  void reload();
  void noteUse(std::int64_t id, std::int64_t now);

  struct LastUse {
    std::int64_t seen = 0;
    std::int64_t written = 0;
  };

  Database* database_;
  bool tableReady_ = false;
  // Opened once the database file exists.
  std::optional<ChangeCounter> file_;
  // The file's counter when valid_ was read; none: read again at the next call.
  std::optional<std::uint32_t> counter_;
  bool loaded_ = false;
  std::vector<ValidKeyHash> valid_;
  std::map<std::int64_t, LastUse> lastUse_;
};

}  // namespace relaydash
