#include "model/audit_log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relaydash {
namespace {

class AuditLog : public ::testing::Test {
 protected:
  AuditLog() : db_(open(":memory:")) { createAuditLog(db_); }

  void append(const std::string& action, std::optional<std::int64_t> version = std::nullopt) {
    appendAuditRow(
        db_, {0, "2026-12-09T01:02:03.004Z", "192.0.2.7", "O'Brien", action, "success", version});
  }

  std::vector<std::int64_t> ids(int limit, std::optional<std::int64_t> before = std::nullopt) {
    std::vector<std::int64_t> list;
    for (const AuditRow& row : listAuditRows(db_, limit, before))
      list.push_back(row.id);
    return list;
  }

  Db db_;
};

TEST_F(AuditLog, RowsComeBackNewestFirstAPageAtATime) {
  append("sign-in");
  append("config-apply", 42);
  append("config-apply", -1);
  const std::vector<AuditRow> rows = listAuditRows(db_, 10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].version, -1);
  EXPECT_EQ(rows[1].version, 42);
  const AuditRow& first = rows[2];
  EXPECT_EQ(first.id, 1);
  EXPECT_EQ(first.time, "2026-12-09T01:02:03.004Z");
  EXPECT_EQ(first.peer, "192.0.2.7");
  EXPECT_EQ(first.user, "O'Brien");
  EXPECT_EQ(first.action, "sign-in");
  EXPECT_EQ(first.outcome, "success");
  EXPECT_EQ(first.version, std::nullopt);

  EXPECT_EQ(ids(2), (std::vector<std::int64_t>{3, 2}));
  EXPECT_EQ(ids(2, 2), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(ids(2, 1), (std::vector<std::int64_t>{}));
}

TEST_F(AuditLog, KeepsTheLastTenThousandRowsAndNeverReusesAnId) {
  exec(db_, "begin");
  for (std::size_t i = 0; i < kAuditRowsKept + 5; ++i)
    append("sign-in");
  exec(db_, "commit");
  EXPECT_EQ(getAllRows(db_, "select count(*), min(id), max(id) from audit"),
            (std::vector<Row>{{"10000", "6", "10005"}}));
  // Ids go on growing when the oldest rows are gone, so a page asked "before" an id stays put.
  exec(db_, "delete from audit where id > 10000");
  append("sign-in");
  EXPECT_EQ(ids(1), (std::vector<std::int64_t>{10006}));
}

}  // namespace
}  // namespace relaydash
