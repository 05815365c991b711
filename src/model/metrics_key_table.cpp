#include "model/metrics_key_table.hpp"

#include <charconv>
#include <string>

namespace relaydash {
namespace {

constexpr std::string_view kCreateTable =
    "create table if not exists metrics_key (\n"
    "  id           integer primary key autoincrement,\n"
    "  name         text    not null,\n"
    "  key_hash     text    not null,\n"
    "  created_at   integer not null,\n"
    "  revoked_at   integer,\n"
    "  last_used_at integer\n"
    ")\n";

// Names are unique among the keys in use; a revoked key's name may be given again.
constexpr std::string_view kCreateNameIndex =
    "create unique index if not exists metrics_key_valid_name on metrics_key(name) "
    "where revoked_at is null";

std::int64_t readInteger(const std::string& text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw DbError("invalid integer in the metrics_key table: " + text);
  }
  return value;
}

// NULL reads as empty text.
std::optional<std::int64_t> readOptional(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return readInteger(text);
}

}  // namespace

void createMetricsKeyTable(const Db& db) {
  exec(db, kCreateTable);
  exec(db, kCreateNameIndex);
}

std::vector<MetricsKeyRow> listMetricsKeyRows(const Db& db) {
  std::vector<MetricsKeyRow> list;
  for (const Row& row : getAllRows(db,
                                   "select id, name, created_at, revoked_at, last_used_at "
                                   "from metrics_key order by id")) {
    list.push_back({readInteger(row[0]), row[1], readInteger(row[2]), readOptional(row[3]),
                    readOptional(row[4])});
  }
  return list;
}

std::vector<ValidKeyHash> validMetricsKeyHashes(const Db& db) {
  std::vector<ValidKeyHash> list;
  for (const Row& row :
       getAllRows(db, "select id, key_hash from metrics_key where revoked_at is null")) {
    list.push_back({readInteger(row[0]), row[1]});
  }
  return list;
}

std::optional<std::string> validMetricsKeyName(const Db& db, std::int64_t id) {
  const std::vector<Row> rows = getAllRows(
      db, "select name from metrics_key where id = cast(? as integer) and revoked_at is null",
      {std::to_string(id)});
  if (rows.empty()) return std::nullopt;
  return rows.front().front();
}

std::int64_t countValidMetricsKeys(const Db& db) {
  return readInteger(
      getAllRows(db, "select count(*) from metrics_key where revoked_at is null").front().front());
}

bool validMetricsKeyNamed(const Db& db, std::string_view name) {
  return !getAllRows(db, "select 1 from metrics_key where name = ? and revoked_at is null", {name})
              .empty();
}

std::int64_t insertMetricsKeyRow(const Db& db, std::string_view name, std::string_view hash,
                                 std::int64_t createdAt) {
  exec(db, "insert into metrics_key(name, key_hash, created_at) values (?, ?, cast(? as integer))",
       {name, hash, std::to_string(createdAt)});
  return readInteger(getAllRows(db, "select last_insert_rowid()").front().front());
}

bool revokeMetricsKeyRow(const Db& db, std::int64_t id, std::int64_t revokedAt) {
  exec(db,
       "update metrics_key set revoked_at = cast(? as integer) "
       "where id = cast(? as integer) and revoked_at is null",
       {std::to_string(revokedAt), std::to_string(id)});
  return readInteger(getAllRows(db, "select changes()").front().front()) > 0;
}

void setMetricsKeyLastUse(const Db& db, std::int64_t id, std::int64_t at) {
  exec(db,
       "update metrics_key set last_used_at = cast(?1 as integer) where id = cast(?2 as integer) "
       "and (last_used_at is null or last_used_at < cast(?1 as integer))",
       {std::to_string(at), std::to_string(id)});
}

}  // namespace relaydash
