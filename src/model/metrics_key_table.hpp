#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/db.hpp"

namespace relaydash {

// The table metrics_key of the account database: one row per key ever made, revoked ones
// included, each with the hash of its key, never the key. Times are microseconds since
// 1970-01-01 UTC. Every function raises DbError.

struct MetricsKeyRow {
  std::int64_t id = 0;  // given by the database, growing; never reused
  std::string name;
  std::int64_t createdAt = 0;
  std::optional<std::int64_t> revokedAt;
  std::optional<std::int64_t> lastUsedAt;
};

// A key still in use: its id and the hash of its key, as stored.
struct ValidKeyHash {
  std::int64_t id = 0;
  std::string hash;
};

// Creates the table and its index when they do not exist; a database of an earlier version
// gets them and is otherwise left as it was. Writes nothing when they exist.
void createMetricsKeyTable(const Db& db);

// Every row, oldest first.
std::vector<MetricsKeyRow> listMetricsKeyRows(const Db& db);
// The keys not revoked.
std::vector<ValidKeyHash> validMetricsKeyHashes(const Db& db);
// The name of the row with that id that is not revoked, if there is one.
std::optional<std::string> validMetricsKeyName(const Db& db, std::int64_t id);
std::int64_t countValidMetricsKeys(const Db& db);
bool validMetricsKeyNamed(const Db& db, std::string_view name);

// Answers the new row's id. A name a valid key has already fails (the table's unique index).
std::int64_t insertMetricsKeyRow(const Db& db, std::string_view name, std::string_view hash,
                                 std::int64_t createdAt);
// Answers whether a valid key of that id was revoked.
bool revokeMetricsKeyRow(const Db& db, std::int64_t id, std::int64_t revokedAt);
// Moves the row's last use forward to `at` (never back).
void setMetricsKeyLastUse(const Db& db, std::int64_t id, std::int64_t at);

}  // namespace relaydash
