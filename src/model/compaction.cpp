#include "model/compaction.hpp"

#include <string>

namespace relaydash {
namespace {

std::string single(const Db& db, std::string_view query) {
  const std::vector<Row> rows = getAllRows(db, query);
  return rows.empty() || rows.front().empty() ? std::string() : rows.front().front();
}

}  // namespace

void useIncrementalVacuum(const Db& db) {
  constexpr std::string_view kIncremental = "2";
  if (single(db, "pragma auto_vacuum") == kIncremental) return;
  exec(db, "pragma auto_vacuum = incremental");
  // A file without tables takes the setting as it is; one with tables only once it is rebuilt.
  if (single(db, "select count(*) from sqlite_master") != "0") exec(db, "vacuum");
}

void releaseFreePages(const Db& db, std::int64_t kept) {
  if (std::stoll(single(db, "pragma freelist_count")) <= kept) return;
  // Each step of the statement frees a page: every row it answers is read to the end.
  getAllRows(db, "pragma incremental_vacuum");
}

}  // namespace relaydash
