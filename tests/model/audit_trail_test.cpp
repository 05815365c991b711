#include "model/audit_trail.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "runtime/event_loop.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;

AuditRow row(const std::string& action) {
  return {0, "2026-12-09T01:02:03.004Z", "192.0.2.7", "admin", action, "success", std::nullopt};
}

std::size_t rowsOnDisk(const Db& db) {
  return listAuditRows(db, 1000).size();
}

class AuditTrailTest : public ::testing::Test {
 protected:
  AuditTrailTest() {
    database_.open(":memory:");
    createAuditLog(db());
  }
  // A database in memory lives with its connection: the tests' loops last far less than the
  // idle time that would close it.
  const Db& db() { return database_.connection(); }
  Database database_;
};

TEST_F(AuditTrailTest, RowsWaitForTheDelayAndThenGoInTogetherInTheirOrder) {
  EventLoop loop;
  AuditTrail trail(database_, 50ms);
  // Runs the loop until rows are on disk (ten seconds at most); answers how long that took.
  const auto untilWritten = [&](std::size_t rows) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000 && rowsOnDisk(db()) < rows; ++i)
      loop.runFor(10ms);
    return std::chrono::steady_clock::now() - start;
  };
  for (const char* action : {"sign-in", "ssh-start", "config-patch"})
    trail.record(row(action));
  EXPECT_EQ(rowsOnDisk(db()), 0u);
  EXPECT_EQ(trail.waiting(), 3u);
  // Never before the delay, and all at once.
  EXPECT_GE(untilWritten(1), 50ms);
  const std::vector<AuditRow> rows = listAuditRows(db(), 10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].action, "config-patch");
  EXPECT_EQ(rows[2].action, "sign-in");
  EXPECT_EQ(trail.waiting(), 0u);

  // A later row starts a new delay.
  trail.record(row("ssh-stop"));
  EXPECT_EQ(rowsOnDisk(db()), 3u);
  EXPECT_GE(untilWritten(4), 50ms);
  EXPECT_EQ(rowsOnDisk(db()), 4u);
}

TEST_F(AuditTrailTest, AFullBatchAReaderOrTheEndWritesAtOnce) {
  EventLoop loop;
  {
    AuditTrail trail(database_, 1h);
    for (std::size_t i = 0; i + 1 < AuditTrail::kAuditRowsPerWrite; ++i)
      trail.record(row("sign-in"));
    EXPECT_EQ(rowsOnDisk(db()), 0u);
    trail.record(row("sign-in"));
    EXPECT_EQ(rowsOnDisk(db()), AuditTrail::kAuditRowsPerWrite);

    trail.record(row("ssh-start"));
    trail.flush();
    EXPECT_EQ(listAuditRows(db(), 1).front().action, "ssh-start");
    trail.record(row("ssh-stop"));
  }
  EXPECT_EQ(listAuditRows(db(), 1).front().action, "ssh-stop");
}

TEST_F(AuditTrailTest, AChangesRowIsWrittenAtOnceAfterTheRowsWaitingAndCanBeCompleted) {
  EventLoop loop;
  AuditTrail trail(database_, 1h);
  trail.record(row("sign-in"));
  trail.recordNow(row("ssh-stop"));
  AuditRow apply = row("config-apply");
  apply.outcome = "pending";
  const std::optional<std::int64_t> id = trail.begin(apply);
  ASSERT_TRUE(id);
  std::vector<AuditRow> rows = listAuditRows(db(), 10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].id, *id);
  EXPECT_EQ(rows[0].outcome, "pending");
  EXPECT_EQ(rows[1].action, "ssh-stop");
  EXPECT_EQ(rows[2].action, "sign-in");
  trail.complete(*id, "failure", 3);
  rows = listAuditRows(db(), 1);
  EXPECT_EQ(rows[0].outcome, "failure");
  EXPECT_EQ(rows[0].version, 3);
}

TEST_F(AuditTrailTest, AFailedWriteIsPrintedAndItsRowsDropped) {
  EventLoop loop;
  AuditTrail trail(database_, 1h);
  trail.record(row("sign-in"));
  exec(db(), "drop table audit");
  ::testing::internal::CaptureStdout();
  trail.flush();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "the audit trail could not be written (1 rows lost): no such table: audit\n");
  EXPECT_EQ(trail.waiting(), 0u);
}

}  // namespace
}  // namespace relaydash
