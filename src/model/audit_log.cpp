#include "model/audit_log.hpp"

#include <charconv>
#include <cstdint>
#include <limits>

#include "model/compaction.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kCreateAuditTable =
    "create table if not exists audit (\n"
    "  id         integer primary key autoincrement,\n"
    "  time       text    not null,\n"
    "  peer       text    not null,\n"
    "  username   text    not null,\n"
    "  action     text    not null,\n"
    "  outcome    text    not null,\n"
    "  version    integer,\n"
    "  lane       integer not null default 0,\n"
    "  count      integer not null default 1,\n"
    "  last_time  text,\n"
    "  repeat_key integer,\n"
    "  subject    text\n"
    ")\n";

// The columns added since the first version of the table, for tables made before them.
constexpr std::string_view kAddedColumns[][2] = {
    {"lane", "alter table audit add column lane integer not null default 0"},
    {"count", "alter table audit add column count integer not null default 1"},
    {"last_time", "alter table audit add column last_time text"},
    {"repeat_key", "alter table audit add column repeat_key integer"},
};
// Added later still: rows before it name no subject, and need nothing else.
constexpr std::string_view kAddSubject = "alter table audit add column subject text";

// Free pages kept in the file for the next rows (of the usual 4 KiB).
constexpr std::int64_t kFreePagesKept = 64;

std::int64_t readInteger(const std::string& text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw DbError("invalid integer in the audit table: " + text);
  }
  return value;
}

// The key that makes rows one: a hash of their window and of who did what, 63 bits as a whole
// number, so that the index holds a few bytes a row rather than the names again.
std::string repeatKey(const AuditRow& row, const std::string& peer, const std::string& user) {
  if (row.repeats.empty()) return {};
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::string_view part : {std::string_view(row.repeats), std::string_view(row.action),
                                      std::string_view(peer), std::string_view(user)}) {
    for (const char c : part) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
    // Parts end with a byte no UTF-8 text holds: ("ab", "c") and ("a", "bc") differ.
    hash ^= 0xff;
    hash *= 1099511628211ull;
  }
  return std::to_string(static_cast<std::int64_t>(hash >> 1));
}

std::string laneText(AuditLane lane) {
  return std::to_string(static_cast<int>(lane));
}

// Drops the rows of a lane that fall out of the kept ones. Ids are never reused (autoincrement),
// so they are those below the kept number's newest.
void trimLane(const Db& db, AuditLane lane) {
  exec(db,
       "delete from audit where lane = cast(?1 as integer) and id < (select id from audit where "
       "lane = cast(?1 as integer) order by id desc limit 1 offset cast(?2 as integer))",
       {laneText(lane), std::to_string(kAuditRowsKept - 1)});
}

}  // namespace

std::string auditText(std::string_view text) {
  if (text.size() <= kAuditTextBytes) return std::string(text);
  std::size_t cut = kAuditTextBytes;
  // Back to the first byte of the character that would be split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80)
    --cut;
  return std::string(text.substr(0, cut)) + std::string(kAuditCutMark);
}

void createAuditLog(const Db& db) {
  exec(db, kCreateAuditTable);
  // Databases of earlier versions trimmed the table after every insert with a trigger; rows are
  // now written in batches, which trim once.
  exec(db, "drop trigger if exists audit_keep_last");
  const std::vector<Row> columns = getAllRows(db, "select name from pragma_table_info('audit')");
  bool migrated = false;
  for (const auto& [name, statement] : kAddedColumns) {
    bool found = false;
    for (const Row& column : columns)
      found = found || column.front() == name;
    if (!found) {
      exec(db, statement);
      migrated = true;
    }
  }
  bool hasSubject = false;
  for (const Row& column : columns)
    hasSubject = hasSubject || column.front() == "subject";
  if (!hasSubject) exec(db, kAddSubject);
  if (migrated) {
    exec(db, "update audit set lane = cast(? as integer) where action = 'sign-in'",
         {laneText(AuditLane::SignIns)});
    // Names were stored whole; cut by characters here, which bounds them all the same.
    exec(db,
         "update audit set username = substr(username, 1, cast(?1 as integer)) || ?2 "
         "where length(cast(username as blob)) > cast(?1 as integer)",
         {std::to_string(kAuditTextBytes), kAuditCutMark});
    trimLane(db, AuditLane::Changes);
    trimLane(db, AuditLane::SignIns);
  }
  exec(db, "create unique index if not exists audit_repeats on audit(repeat_key)");
  exec(db, "create index if not exists audit_lanes on audit(lane, id)");
}

void appendAuditRows(const Db& db, std::span<const AuditRow> rows) {
  if (rows.empty()) return;
  std::vector<Row> arguments;
  arguments.reserve(rows.size());
  bool lanes[2] = {false, false};
  for (const AuditRow& row : rows) {
    std::string peer = auditText(row.peer);
    std::string user = auditText(row.user);
    std::string key = repeatKey(row, peer, user);
    arguments.push_back({row.time, std::move(peer), std::move(user), row.action, row.outcome,
                         row.version ? std::to_string(*row.version) : std::string(),
                         laneText(row.lane), std::to_string(row.count), std::move(key),
                         auditText(row.subject)});
    lanes[static_cast<int>(row.lane)] = true;
  }
  exec(db, "savepoint audit_append");
  try {
    // A row without `repeats` has a NULL key, which equals no other: it is always a row of its
    // own.
    execEach(db,
             "insert into audit(time, peer, username, action, outcome, version, lane, count, "
             "repeat_key, subject) values (?, ?, ?, ?, ?, cast(nullif(?, '') as integer), "
             "cast(? as integer), cast(? as integer), cast(nullif(?, '') as integer), "
             "nullif(?, '')) "
             "on conflict(repeat_key) do update set "
             "count = count + excluded.count, last_time = excluded.time",
             arguments);
    if (lanes[0]) trimLane(db, AuditLane::Changes);
    if (lanes[1]) trimLane(db, AuditLane::SignIns);
    releaseFreePages(db, kFreePagesKept);
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

std::int64_t insertAuditRow(const Db& db, const AuditRow& row) {
  AuditRow alone = row;
  alone.repeats.clear();
  appendAuditRow(db, alone);
  return readInteger(getAllRows(db, "select last_insert_rowid()").front().front());
}

void completeAuditRow(const Db& db, std::int64_t id, std::string_view outcome,
                      std::optional<std::int64_t> version) {
  exec(db,
       "update audit set outcome = ?, version = cast(nullif(?, '') as integer) "
       "where id = cast(? as integer)",
       {outcome, version ? std::to_string(*version) : std::string(), std::to_string(id)});
}

void settleAuditRows(const Db& db, std::string_view from, std::string_view to) {
  // Only written when there is something to settle: a database that cannot be written serves
  // all the same.
  if (getAllRows(db, "select 1 from audit where outcome = ? limit 1", {from}).empty()) return;
  exec(db, "update audit set outcome = ? where outcome = ?", {to, from});
}

std::vector<AuditRow> listAuditRows(const Db& db, int limit, std::optional<std::int64_t> before) {
  const std::string below =
      std::to_string(before.value_or(std::numeric_limits<std::int64_t>::max()));
  const std::vector<Row> rows =
      getAllRows(db,
                 "select id, time, peer, username, action, outcome, version, lane, count, "
                 "coalesce(last_time, time), subject from audit "
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
    entry.lane = readInteger(row[7]) == 1 ? AuditLane::SignIns : AuditLane::Changes;
    entry.count = readInteger(row[8]);
    entry.lastTime = row[9];
    entry.subject = row[10];
  }
  return list;
}

}  // namespace relaydash
