#include "model/audit_log.hpp"

#include <charconv>
#include <limits>

namespace relaydash {
namespace {

constexpr std::string_view kCreateAuditTable =
    "create table if not exists audit (\n"
    "  id       integer primary key autoincrement,\n"
    "  time     text    not null,\n"
    "  peer     text    not null,\n"
    "  username text    not null,\n"
    "  action   text    not null,\n"
    "  outcome  text    not null,\n"
    "  version  integer\n"
    ")\n";

std::int64_t readInteger(const std::string& text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw DbError("invalid integer in the audit table: " + text);
  }
  return value;
}

}  // namespace

void createAuditLog(const Db& db) {
  exec(db, kCreateAuditTable);
  // Databases of earlier versions trimmed the table after every insert with a trigger; rows are
  // now written in batches, which trim once.
  exec(db, "drop trigger if exists audit_keep_last");
}

void appendAuditRows(const Db& db, std::span<const AuditRow> rows) {
  if (rows.empty()) return;
  std::vector<Row> arguments;
  arguments.reserve(rows.size());
  for (const AuditRow& row : rows) {
    arguments.push_back({row.time, row.peer, row.user, row.action, row.outcome,
                         row.version ? std::to_string(*row.version) : std::string()});
  }
  exec(db, "savepoint audit_append");
  try {
    execEach(db,
             "insert into audit(time, peer, username, action, outcome, version) "
             "values (?, ?, ?, ?, ?, cast(nullif(?, '') as integer))",
             arguments);
    // Ids are never reused (autoincrement), so the rows to drop are those more than the kept
    // number below the newest.
    exec(db, "delete from audit where id <= (select max(id) from audit) - cast(? as integer)",
         {std::to_string(kAuditRowsKept)});
    exec(db, "release audit_append");
  } catch (...) {
    exec(db, "rollback to audit_append");
    exec(db, "release audit_append");
    throw;
  }
}

void appendAuditRow(const Db& db, const AuditRow& row) {
  appendAuditRows(db, std::span<const AuditRow>(&row, 1));
}

std::vector<AuditRow> listAuditRows(const Db& db, int limit, std::optional<std::int64_t> before) {
  const std::string below =
      std::to_string(before.value_or(std::numeric_limits<std::int64_t>::max()));
  const std::vector<Row> rows =
      getAllRows(db,
                 "select id, time, peer, username, action, outcome, version from audit "
                 "where id < cast(? as integer) order by id desc limit cast(? as integer)",
                 {below, std::to_string(limit)});
  std::vector<AuditRow> list;
  list.reserve(rows.size());
  for (const Row& row : rows) {
    AuditRow& entry = list.emplace_back();
    entry.id = readInteger(row[0]);
    entry.time = row[1];
    entry.peer = row[2];
    entry.user = row[3];
    entry.action = row[4];
    entry.outcome = row[5];
    // NULL reads as empty text: no version.
    if (!row[6].empty()) entry.version = readInteger(row[6]);
  }
  return list;
}

}  // namespace relaydash
