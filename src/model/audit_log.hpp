#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/db.hpp"

namespace relaydash {

// One row of the audit trail: who did what, from where, and how it ended.
struct AuditRow {
  std::int64_t id = 0;  // given by the database, growing; never reused
  std::string time;     // UTC, as the caller wrote it
  std::string peer;     // the address the request came from
  std::string user;
  std::string action;
  std::string outcome;
  // For a change of the forwarder's configuration, the version it made or went back to.
  std::optional<std::int64_t> version;
};

// The trail keeps this many rows: each new row beyond them removes the oldest.
inline constexpr std::size_t kAuditRowsKept = 10'000;

// Creates the audit table and what keeps it short, when they do not exist.
void createAuditLog(const Db& db);

// Appends the rows in their order (their ids are ignored) and drops the rows that fall out of the
// kept ones, all in one transaction (a savepoint inside the caller's transaction, if any), so
// that a batch costs one sync of the file: every row is written or none. Raises DbError.
void appendAuditRows(const Db& db, std::span<const AuditRow> rows);
void appendAuditRow(const Db& db, const AuditRow& row);

// Up to limit rows, newest first; with `before`, only rows whose id is below it. Raises DbError.
std::vector<AuditRow> listAuditRows(const Db& db, int limit,
                                    std::optional<std::int64_t> before = std::nullopt);

}  // namespace relaydash
