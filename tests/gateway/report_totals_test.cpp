#include "gateway/report_totals.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace relaydash {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kStart = 1'765'000'000 * kSecond;

// The report the forwarder wrote at `at` seconds, reaching the journal 3 s later: `received`
// packets, 75 % of them with a good CRC, 25 % bad; as many forwarded and PUSH_DATA sent, 2 of 3
// acknowledged; 4 PULL_DATA, all acknowledged; one downlink.
LinkReport report(int at, std::int64_t received, bool complete = true) {
  LinkReport r;
  r.time = kStart + at * kSecond;
  r.arrival = r.time + 3 * kSecond;
  r.complete = complete;
  r.rfReceived = received;
  r.crcOkPercent = 75.0;
  r.crcFailPercent = 25.0;
  r.noCrcPercent = 0.0;
  r.rfForwarded = received;
  r.pushDataSent = received;
  r.pushDataAckPercent = 66.67;
  r.pullDataSent = 4;
  r.pullDataAckPercent = 100.0;
  r.rfSent = 1;
  r.txErrors = 0;
  return r;
}

TEST(ReportTotals, StartsAtTheNewestReportAndAddsEachLaterOneOnceItIsFinal) {
  ReportTotals totals;
  EXPECT_FALSE(totals.started());
  // What the forwarder reported before relaydash started is not counted, nor the open one.
  totals.take({report(0, 100), report(30, 100), report(60, 100, false)});
  EXPECT_TRUE(totals.started());
  EXPECT_EQ(totals.totals(), ForwarderTotals{});

  // The open report finished, one more came and another is under way: the hour read afresh
  // would answer the same, the older ones included.
  const std::vector<LinkReport> hour = {report(0, 100), report(30, 100), report(60, 100),
                                        report(90, 12), report(120, 8, false)};
  totals.take(hour);
  ForwarderTotals expected{.reports = 1,
                           .received = 12,
                           .crcOk = 9,
                           .crcFailed = 3,
                           .forwarded = 12,
                           .pushSent = 12,
                           .pushAcknowledged = 8,  // 12 × 66.67 % = 8.0004
                           .pullSent = 4,
                           .pullAcknowledged = 4,
                           .downlinksSent = 1,
                           .txErrors = 0};
  EXPECT_EQ(totals.totals(), expected);
  // The same snapshot again, or the hour read afresh: nothing twice.
  totals.take(hour);
  totals.take(hour);
  EXPECT_EQ(totals.totals(), expected);

  // The open one finished; reports that left the window are simply gone from the snapshot.
  totals.take({report(90, 12), report(120, 8), report(150, 6, false)});
  expected.reports = 2;
  expected.received = 20;
  expected.crcOk = 9 + 6;
  expected.crcFailed = 3 + 2;
  expected.forwarded = expected.pushSent = 20;
  expected.pushAcknowledged = 8 + 5;  // 8 × 66.67 % = 5.33
  expected.pullSent = expected.pullAcknowledged = 8;
  expected.downlinksSent = 2;
  EXPECT_EQ(totals.totals(), expected);
}

TEST(ReportTotals, AForwarderRestartNeverTakesACounterBack) {
  ReportTotals totals;
  totals.take({report(0, 50)});
  // The forwarder restarted within the report of 30 s (cut short, never completed): it counts
  // once the new process's first report follows it; the new process's counts start low again.
  LinkReport cut = report(30, 40, false);
  totals.take({report(0, 50), cut});
  EXPECT_EQ(totals.totals().reports, 0u);
  LinkReport first = report(45, 2);
  totals.take({report(0, 50), cut, first});
  EXPECT_EQ(totals.totals().reports, 2u);
  EXPECT_EQ(totals.totals().received, 42u);
  // Every later snapshot holds at least as much in every counter.
  ForwarderTotals before = totals.totals();
  totals.take({report(0, 50), cut, first, report(75, 0), report(105, 1, false)});
  const ForwarderTotals& after = totals.totals();
  EXPECT_EQ(after.reports, 3u);
  EXPECT_GE(after.received, before.received);
  EXPECT_GE(after.pushAcknowledged, before.pushAcknowledged);
  EXPECT_GE(after.downlinksSent, before.downlinksSent);
}

TEST(ReportTotals, AnEmptyFirstSnapshotCountsEveryReportThatComesAfter) {
  ReportTotals totals;
  totals.take({});
  EXPECT_TRUE(totals.started());
  // A report without CRC or acknowledgement lines counts what it holds.
  LinkReport bare = report(0, 10);
  bare.crcOkPercent.reset();
  bare.pushDataAckPercent.reset();
  totals.take({bare, report(30, 10, false)});
  EXPECT_EQ(totals.totals().reports, 1u);
  EXPECT_EQ(totals.totals().received, 10u);
  EXPECT_EQ(totals.totals().crcOk, 0u);
  EXPECT_EQ(totals.totals().pushAcknowledged, 0u);
  EXPECT_EQ(totals.totals().pullAcknowledged, 4u);
}

}  // namespace
}  // namespace relaydash
