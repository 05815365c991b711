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

// Rows are kept in two lanes, each with its own number of rows: however many sign-ins come, they
// never push a change out of the trail.
enum class AuditLane { Changes = 0, SignIns = 1 };

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
  // What the action was done to, when it names it: a metrics key's name. Empty for nothing;
  // stored as auditText.
  std::string subject{};
  AuditLane lane = AuditLane::Changes;
  // Rows written with the same action, peer, user and a non-empty `repeats` are one row that
  // counts them: `count` of them, the last at `lastTime`. Read back, `repeats` is empty.
  std::string repeats{};
  std::int64_t count = 1;
  std::string lastTime{};  // read back: the time of the last one (`time` when there is one)
};

// Each lane keeps this many rows: each new row beyond them removes the lane's oldest.
inline constexpr std::size_t kAuditRowsKept = 10'000;
// Stored user names, peers and subjects are cut to this many bytes (at a character's boundary) and
// end with kAuditCutMark when they were longer.
inline constexpr std::size_t kAuditTextBytes = 64;
inline constexpr std::string_view kAuditCutMark = "\u2026";

// text as stored: at most kAuditTextBytes of it, cut before a UTF-8 character that would not fit
// whole, followed by kAuditCutMark when something was cut.
std::string auditText(std::string_view text);

// Creates the audit table and its indexes when they do not exist, and brings the table of an
// earlier version to this one (its rows in their lanes, long names cut, each lane trimmed).
void createAuditLog(const Db& db);

// Appends the rows in their order (their ids are ignored; a row that repeats one adds to its
// count instead) and drops the rows that fall out of the kept ones, all in one transaction (a
// savepoint inside the caller's transaction, if any), so that a batch costs one sync of the file:
// every row is written or none. Pages freed are given back to the file system now and then.
// Raises DbError.
void appendAuditRows(const Db& db, std::span<const AuditRow> rows);
void appendAuditRow(const Db& db, const AuditRow& row);
// The same for one row that does not repeat another: answers its id.
std::int64_t insertAuditRow(const Db& db, const AuditRow& row);

// Sets a row's outcome and version once the action it records has ended. Raises DbError.
void completeAuditRow(const Db& db, std::int64_t id, std::string_view outcome,
                      std::optional<std::int64_t> version);
// Sets the outcome of every row still `from` (rows of actions a stop of the server cut short)
// to `to`. Raises DbError.
void settleAuditRows(const Db& db, std::string_view from, std::string_view to);

// Up to limit rows, newest first; with `before`, only rows whose id is below it. Raises DbError.
std::vector<AuditRow> listAuditRows(const Db& db, int limit,
                                    std::optional<std::int64_t> before = std::nullopt);

}  // namespace relaydash
