#include "model/audit_log.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model/compaction.hpp"
#include "support/temp_dir.hpp"

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

TEST_F(AuditLog, NoNumberOfSignInsPushesAChangeOut) {
  appendAuditRow(db_, {0, "2026-12-09T01:02:03.004Z", "192.0.2.7", "admin", "ssh-start", "success",
                       std::nullopt});
  AuditRow signIn{
      0, "2026-12-09T01:02:04.004Z", "192.0.2.7", "admin", "sign-in", "success", std::nullopt};
  signIn.lane = AuditLane::SignIns;
  exec(db_, "begin");
  for (std::size_t i = 0; i < kAuditRowsKept + 10; ++i)
    appendAuditRow(db_, signIn);
  exec(db_, "commit");
  EXPECT_EQ(getAllRows(db_, "select lane, count(*), min(id) from audit group by lane"),
            (std::vector<Row>{{"0", "1", "1"}, {"1", "10000", "12"}}));
  EXPECT_EQ(listAuditRows(db_, 1, 12).front().action, "ssh-start");
}

TEST_F(AuditLog, RepeatedRowsAreOneRowThatCountsThem) {
  const auto failure = [](const std::string& time, const std::string& user,
                          const std::string& repeats) {
    AuditRow row{0, time, "192.0.2.7", user, "sign-in", "failure", std::nullopt};
    row.lane = AuditLane::SignIns;
    row.repeats = repeats;
    return row;
  };
  const std::vector<AuditRow> rows{
      failure("2026-12-09T01:02:03.004Z", "admin", "2026-12-09T01:0"),
      failure("2026-12-09T01:03:03.004Z", "root", "2026-12-09T01:0"),
      failure("2026-12-09T01:04:03.004Z", "admin", "2026-12-09T01:0"),
      failure("2026-12-09T01:05:03.004Z", "admin", ""),
      failure("2026-12-09T01:10:03.004Z", "admin", "2026-12-09T01:1"),
  };
  appendAuditRows(db_, std::span<const AuditRow>(rows.data(), 3));
  appendAuditRows(db_, std::span<const AuditRow>(rows.data(), rows.size()));
  std::vector<std::string> listed;
  for (const AuditRow& row : listAuditRows(db_, 10)) {
    listed.push_back(row.user + " " + std::to_string(row.count) + " " + row.time + " " +
                     row.lastTime);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "admin 1 2026-12-09T01:10:03.004Z 2026-12-09T01:10:03.004Z",
                        "admin 1 2026-12-09T01:05:03.004Z 2026-12-09T01:05:03.004Z",
                        "root 2 2026-12-09T01:03:03.004Z 2026-12-09T01:03:03.004Z",
                        "admin 4 2026-12-09T01:02:03.004Z 2026-12-09T01:04:03.004Z",
                    }));
}

TEST_F(AuditLog, LongNamesAreCutBeforeACharacterThatWouldNotFitAndMarked) {
  const std::string fits(kAuditTextBytes, 'a');
  const std::string accent = "\xc3\xa9";
  const struct {
    std::string given;
    std::string stored;
  } rows[] = {
      {fits, fits},
      {fits + "b", fits + "\u2026"},
      {fits.substr(1) + accent, fits.substr(1) + "\u2026"},
      {fits.substr(2) + accent + "b", fits.substr(2) + accent + "\u2026"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(auditText(row.given), row.stored) << row.given;
    appendAuditRow(db_, {0, "2026-12-09T01:02:03.004Z", row.given, row.given, "sign-in", "failure",
                         std::nullopt});
    const AuditRow stored = listAuditRows(db_, 1).front();
    EXPECT_EQ(stored.user, row.stored);
    EXPECT_EQ(stored.peer, row.stored);
  }
}

TEST_F(AuditLog, AChangeIsWrittenPendingAndCompletedOrSettled) {
  AuditRow row{0, "2026-12-09T01:02:03.004Z", "192.0.2.7", "admin", "config-apply", "pending", 4};
  const std::int64_t first = insertAuditRow(db_, row);
  const std::int64_t second = insertAuditRow(db_, row);
  EXPECT_EQ(second, first + 1);
  completeAuditRow(db_, first, "success", 5);
  settleAuditRows(db_, "pending", "interrupted");
  const std::vector<AuditRow> rows = listAuditRows(db_, 2);
  EXPECT_EQ(rows[1].outcome, "success");
  EXPECT_EQ(rows[1].version, 5);
  EXPECT_EQ(rows[0].outcome, "interrupted");
  EXPECT_EQ(rows[0].version, 4);
}

// What a flood of failed sign-ins with long, all different names leaves of the file.
TEST(AuditLogFile, TwelveThousandFailedSignInsWithLongNamesLeaveASmallFile) {
  TempDir dir;
  const std::string path = dir.file("relaydash.sqlite3");
  {
    const Db db = open(path);
    useIncrementalVacuum(db);
    createAuditLog(db);
    std::vector<AuditRow> batch;
    for (int i = 0; i < 12'000; ++i) {
      AuditRow& row = batch.emplace_back();
      row = {0,
             "2026-12-09T01:02:03.004Z",
             "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250),
             std::to_string(i) + std::string(4000, 'x'),
             "sign-in",
             "failure",
             std::nullopt};
      row.lane = AuditLane::SignIns;
      row.repeats = "2026-12-09T01:0";
      if (batch.size() == 512 || i == 11'999) {
        appendAuditRows(db, batch);
        batch.clear();
      }
    }
    EXPECT_EQ(getAllRows(db, "select count(*) from audit"), (std::vector<Row>{{"10000"}}));
  }
  EXPECT_LT(std::filesystem::file_size(path), 2'500'000u);
}

// A table of an earlier version, with long names in it: brought to this one, it keeps its rows
// in their lanes, cut, and the file shrinks.
TEST(AuditLogFile, AnEarlierTableIsBroughtToThisOneAndItsFileShrinks) {
  TempDir dir;
  const std::string path = dir.file("relaydash.sqlite3");
  {
    const Db db = open(path);
    exec(db,
         "create table audit (id integer primary key autoincrement, time text not null, peer "
         "text not null, username text not null, action text not null, outcome text not null, "
         "version integer)");
    exec(db, "begin");
    for (int i = 0; i < 2'000; ++i) {
      exec(db, "insert into audit(time, peer, username, action, outcome) values (?, ?, ?, ?, ?)",
           {"2026-12-09T01:02:03.004Z", "192.0.2.7", std::to_string(i) + std::string(4000, 'x'),
            i == 0 ? "ssh-start" : "sign-in", "failure"});
    }
    exec(db, "commit");
  }
  ASSERT_GT(std::filesystem::file_size(path), 8'000'000u);
  {
    const Db db = open(path);
    createAuditLog(db);
    useIncrementalVacuum(db);
    EXPECT_EQ(getAllRows(db,
                         "select lane, count(*), max(length(username)) from audit group by "
                         "lane"),
              (std::vector<Row>{{"0", "1", "65"}, {"1", "1999", "65"}}));
    EXPECT_EQ(getAllRows(db, "pragma auto_vacuum"), (std::vector<Row>{{"2"}}));
  }
  EXPECT_LT(std::filesystem::file_size(path), 1'000'000u);
}

// The table as it was before rows had a subject: it gains the column, its rows stay as they
// were, and a new row's subject comes back cut as user names are.
TEST(AuditLogFile, ATableWithoutSubjectsGainsThemAndKeepsItsRows) {
  const Db db = open(":memory:");
  exec(db,
       "create table audit (id integer primary key autoincrement, time text not null, peer text "
       "not null, username text not null, action text not null, outcome text not null, version "
       "integer, lane integer not null default 0, count integer not null default 1, last_time "
       "text, repeat_key integer)");
  exec(db,
       "insert into audit(time, peer, username, action, outcome, lane) values "
       "('2026-12-09T01:02:03.004Z', '192.0.2.7', 'admin', 'sign-in', 'success', 1)");
  createAuditLog(db);
  AuditRow row;
  row.time = "2026-12-09T01:02:04.000Z";
  row.user = "admin";
  row.action = "metrics-key-create";
  row.outcome = "success";
  row.subject = std::string(70, 'k');
  appendAuditRow(db, row);
  const std::vector<AuditRow> rows = listAuditRows(db, 10);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].subject, std::string(64, 'k') + "\u2026");
  EXPECT_EQ(rows[1].subject, "");
  EXPECT_EQ(rows[1].lane, AuditLane::SignIns);
  EXPECT_EQ(rows[1].user, "admin");
}

}  // namespace
}  // namespace relaydash
