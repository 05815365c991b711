#include "gateway/link_health.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/link_report_reader.hpp"
#include "gateway/time_text.hpp"
#include "runtime/event_loop.hpp"
#include "support/fake_journal.hpp"
#include "support/scripted_systemctl.hpp"

namespace relaydash {
namespace {

using testing::FakeJournal;
using testing::ScriptedSystemctl;
using testing::statisticsReport;

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Lines of the forwarder's own between reports.
const std::vector<std::string> kChatter{
    "INFO: [down] PULL_ACK received in 41 ms",
    "INFO: Received pkt from mote: 26011F3A (fcnt=1234)",
    "JSON up: {\"rxpk\":[{\"tmst\":3512348611,\"chan\":2,\"rfch\":0,\"freq\":868.500000}]}",
    "# this line looks like a report line but belongs to none",
};

std::vector<JournalEntry> entriesOf(const std::vector<std::string>& lines) {
  FakeJournal journal("packet-forwarder");
  std::string output;
  for (const std::string& line : journal.lines(lines, 30))
    output += line + "\n";
  return parseJournal(output);
}

TEST(LinkReports, EveryNumberOfARealReport) {
  const auto reports =
      parseLinkReports(entriesOf(statisticsReport("2026-12-09 01:02:03", 12, "92.31")));
  ASSERT_EQ(reports.size(), 1u);
  const LinkReport& r = reports[0];
  // Its own time, and the journal's.
  EXPECT_EQ(formatIsoUtc(r.time), "2026-12-09T01:02:03Z");
  EXPECT_EQ(r.arrival, 1'765'000'030'000'000);
  EXPECT_TRUE(r.complete);
  EXPECT_TRUE(r.gpsBlock);
  EXPECT_EQ(r.rfReceived, 12);
  EXPECT_EQ(r.crcOkPercent, 83.33);
  EXPECT_EQ(r.crcFailPercent, 16.67);
  EXPECT_EQ(r.noCrcPercent, 0.0);
  EXPECT_EQ(r.rfForwarded, 12);
  EXPECT_EQ(r.rfForwardedBytes, 276);
  EXPECT_EQ(r.pushDataSent, 13);
  EXPECT_EQ(r.pushDataBytes, 2020);
  EXPECT_EQ(r.pushDataAckPercent, 92.31);
  EXPECT_EQ(r.pullDataSent, 3);
  EXPECT_EQ(r.pullDataAckPercent, 100.0);
  EXPECT_EQ(r.pullRespReceived, 1);
  EXPECT_EQ(r.pullRespBytes, 156);
  EXPECT_EQ(r.rfSent, 1);
  EXPECT_EQ(r.rfSentBytes, 17);
  EXPECT_EQ(r.txErrors, 0);
  EXPECT_EQ(r.timeReference, TimeReference::Valid);
  EXPECT_EQ(r.timeReferenceAge, 1);
  ASSERT_TRUE(r.gps);
  EXPECT_EQ(r.gps->latitude, 52.37403);
  EXPECT_EQ(r.gps->altitude, 12);
  EXPECT_EQ(r.gps->source, "gps");
}

TEST(LinkReports, CutOffReportsAndUnrelatedLines) {
  std::vector<std::string> cut = statisticsReport("2026-12-09 01:03:03", 7, "100.00");
  cut.resize(6);  // the forwarder stopped after the PUSH_DATA line
  std::vector<std::string> writing = statisticsReport("2026-12-09 01:05:03", 9, "100.00");
  writing.resize(9);  // being written as the journal is read
  const auto reports = parseLinkReports(entriesOf(concat({
      kChatter,
      statisticsReport("2026-12-09 01:02:03", 12, "100.00"),
      kChatter,
      cut,
      kChatter,
      statisticsReport("2026-12-09 01:04:03", 4, "0.00", "0.00"),
      writing,
  })));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].rfReceived, 12);
  EXPECT_EQ(reports[0].pushDataAckPercent, 100.0);
  // The network server does not answer: nothing acknowledged.
  EXPECT_EQ(reports[1].rfReceived, 4);
  EXPECT_EQ(reports[1].pushDataAckPercent, 0.0);
  EXPECT_EQ(reports[1].pullDataAckPercent, 0.0);
}

TEST(LinkReports, OtherForwardersWaysOfWritingThem) {
  // No date or end lines, double blanks, the GPS block of a forwarder without GPS, a report that
  // ends at the next one's start and still holds every counter.
  const std::vector<std::string> bare{
      "### [UPSTREAM] ###",
      "# RF packets received by concentrator: 3",
      "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%",
      "# RF packets forwarded: 3 (60 bytes)",
      "# PUSH_DATA datagrams sent: 4 (812 bytes)",
      "# PUSH_DATA acknowledged:  50.00%",
      "### [DOWNSTREAM] ###",
      "# PULL_DATA sent: 3 (66.67% acknowledged)",
      "# PULL_RESP(onse) datagrams received: 0 (0 bytes)",
      "# RF packets sent to concentrator: 0 (0 bytes)",
      "# TX errors: 0",
      "# TX rejected (collision packet): 0.00% (req:0, rej:0)",
      "### [GPS] ###",
      "# GPS sync is disabled",
      "# Manual GPS coordinates: latitude -33.86882, longitude 151.20930, altitude 58 m",
  };
  const auto reports = parseLinkReports(entriesOf(concat({bare, bare})));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].pushDataAckPercent, 50.0);
  EXPECT_EQ(reports[1].pullDataAckPercent, 66.67);
  EXPECT_EQ(reports[1].timeReference, TimeReference::Disabled);
  ASSERT_TRUE(reports[1].gps);
  EXPECT_EQ(reports[1].gps->source, "manual");
  EXPECT_EQ(reports[1].gps->latitude, -33.86882);

  // A report that ended but lacks a line keeps what it has.
  std::vector<std::string> partial = statisticsReport("2026-12-09 01:02:03", 1, "100.00");
  partial.erase(partial.begin() + 6);
  const auto kept = parseLinkReports(entriesOf(partial));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].pushDataAckPercent, std::nullopt);
  EXPECT_EQ(kept[0].rfReceived, 1);

  EXPECT_TRUE(parseLinkReports(entriesOf(kChatter)).empty());
}

// Entries whose lines reach the journal in bursts, as the forwarder's buffered output does: every
// line of a burst has the journal time of the burst.
std::vector<JournalEntry> burstsOf(const std::vector<std::vector<std::string>>& bursts,
                                   double secondsApart) {
  FakeJournal journal("packet-forwarder");
  std::string output;
  for (const auto& burst : bursts) {
    for (std::size_t i = 0; i < burst.size(); ++i)
      output += journal.text(burst[i], 6, i == 0 ? secondsApart : 0) + "\n";
  }
  return parseJournal(output);
}

std::vector<std::string> linesOf(const std::vector<std::string>& report, std::size_t from,
                                 std::size_t to) {
  return {report.begin() + static_cast<std::ptrdiff_t>(from),
          report.begin() + static_cast<std::ptrdiff_t>(std::min(to, report.size()))};
}

TEST(LinkReports, ReportsThatReachTheJournalInBursts) {
  // Three reports 5 s apart in one 4 KiB burst, the fourth cut by the end of the buffer after
  // its counters: the rest of it comes with the next burst, 20 s later.
  const auto first = statisticsReport("2026-12-09 21:05:00", 1, "100.00");
  const auto second = statisticsReport("2026-12-09 21:05:05", 2, "100.00");
  const auto third = statisticsReport("2026-12-09 21:05:10", 3, "100.00");
  const auto fourth = statisticsReport("2026-12-09 21:05:15", 4, "100.00");
  const auto reports = parseLinkReports(burstsOf(
      {concat({first, second, third, linesOf(fourth, 0, 12)}), linesOf(fourth, 12, 16)}, 20));
  ASSERT_EQ(reports.size(), 4u);
  const std::int64_t burst = reports[0].arrival;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(formatIsoUtc(reports[i].time),
              "2026-12-09T21:05:" + std::to_string(i * 5 / 10) + std::to_string(i * 5 % 10) + "Z");
    EXPECT_EQ(reports[i].arrival, burst);
  }
  EXPECT_EQ(formatIsoUtc(reports[3].time), "2026-12-09T21:05:15Z");
  EXPECT_EQ(reports[3].arrival, burst);
  EXPECT_TRUE(reports[3].complete);
  EXPECT_EQ(reports[3].rfReceived, 4);
  EXPECT_EQ(reports[3].timeReference, TimeReference::Valid);

  // Read before the rest came, the fourth is cut before its GPS block: it counts, and says
  // nothing of the GPS.
  const auto cut = parseLinkReports(burstsOf({concat({first, linesOf(fourth, 0, 12)})}, 20));
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_TRUE(cut[0].complete);
  EXPECT_FALSE(cut[1].complete);
  EXPECT_FALSE(cut[1].gpsBlock);
  EXPECT_EQ(cut[1].pushDataAckPercent, 100.0);
  EXPECT_EQ(cut[1].timeReference, std::nullopt);
  EXPECT_FALSE(cut[1].gps);
  // Cut off when the forwarder stopped: the report after it begins without its end.
  const auto restarted =
      parseLinkReports(burstsOf({concat({linesOf(fourth, 0, 12)}),
                                 statisticsReport("2026-12-09 21:06:01", 0, "100.00", "0.00")},
                                20));
  ASSERT_EQ(restarted.size(), 2u);
  EXPECT_FALSE(restarted[0].complete);
  EXPECT_TRUE(restarted[1].complete);

  // A date in another zone is no time to go by: the journal's is taken.
  auto local = statisticsReport("2026-12-09 22:05:00", 1, "100.00");
  local[0] = "##### 2026-12-09 22:05:00 CET #####";
  const auto inCet = parseLinkReports(burstsOf({local}, 20));
  ASSERT_EQ(inCet.size(), 1u);
  EXPECT_EQ(inCet[0].time, inCet[0].arrival);
  local[0] = "##### 2026-12-09 22:05:00 UTC #####";
  EXPECT_EQ(formatIsoUtc(parseLinkReports(burstsOf({local}, 20))[0].time), "2026-12-09T22:05:00Z");
}

TEST(LinkReports, AServerThatStopsAnsweringAndAnIntervalWithoutKeepAlives) {
  // Recorded from a forwarder whose network server went away, its keepalive_interval (40 s)
  // longer than its stat_interval (30 s).
  const std::vector<std::string> lines{
      "##### 2026-12-09 21:05:00 GMT #####",
      "### [UPSTREAM] ###",
      "# RF packets received by concentrator: 2",
      "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%",
      "# RF packets forwarded: 2 (46 bytes)",
      "# PUSH_DATA datagrams sent: 3 (563 bytes)",
      "# PUSH_DATA acknowledged: 100.00%",
      "### [DOWNSTREAM] ###",
      "# PULL_DATA sent: 1 (100.00% acknowledged)",
      "# PULL_RESP(onse) datagrams received: 0 (0 bytes)",
      "# RF packets sent to concentrator: 0 (0 bytes)",
      "# TX errors: 0",
      "### [GPS] ###",
      "# GPS sync is disabled",
      "##### END #####",
      "INFO: [down] PULL_ACK received in 38 ms",
      "WARNING: [up] ignored out-of sync ACK packet",
      "##### 2026-12-09 21:05:30 GMT #####",
      "### [UPSTREAM] ###",
      "# RF packets received by concentrator: 1",
      "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%",
      "# RF packets forwarded: 1 (23 bytes)",
      "# PUSH_DATA datagrams sent: 2 (412 bytes)",
      "# PUSH_DATA acknowledged: 0.00%",
      "### [DOWNSTREAM] ###",
      "# PULL_DATA sent: 0 (0.00% acknowledged)",
      "# PULL_RESP(onse) datagrams received: 0 (0 bytes)",
      "# RF packets sent to concentrator: 0 (0 bytes)",
      "# TX errors: 0",
      "### [GPS] ###",
      "# GPS sync is disabled",
      "##### END #####",
  };
  const auto reports = parseLinkReports(entriesOf(lines));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].pushDataAckPercent, 100.0);
  EXPECT_EQ(reports[0].pullDataSent, 1);
  EXPECT_EQ(reports[1].pushDataSent, 2);
  EXPECT_EQ(reports[1].pushDataAckPercent, 0.0);
  // Nothing sent, and the forwarder's 0.00 % for it.
  EXPECT_EQ(reports[1].pullDataSent, 0);
  EXPECT_EQ(reports[1].pullDataAckPercent, 0.0);
  EXPECT_EQ(reports[1].timeReference, TimeReference::Disabled);
  EXPECT_EQ(formatIsoUtc(reports[1].time), "2026-12-09T21:05:30Z");
}

TEST(LinkReports, TheGpsLinesOfTheMultiProtocolForwarder) {
  const std::vector<std::string> withGps{
      "##### 2026-12-09 21:05:00 GMT #####",
      "### [UPSTREAM] ###",
      "# RF packets received by concentrator: 5",
      "# CRC_OK: 80.00%, CRC_FAIL: 20.00%, NO_CRC: 0.00%",
      "# RF packets forwarded: 4 (92 bytes)",
      "# PUSH_DATA datagrams sent: 5 (1010 bytes)",
      "# PUSH_DATA acknowledged: 100.00%",
      "### [DOWNSTREAM] ###",
      "# PULL_DATA sent: 3 (100.00% acknowledged)",
      "# PULL_RESP(onse) datagrams received: 0 (0 bytes)",
      "# RF packets sent to concentrator: 0 (0 bytes)",
      "# TX errors: 0",
      "### [GPS] ###",
      "# Valid gps time reference (age: 0 sec)",
      "# System GPS coordinates: latitude 52.09118, longitude 5.12246, altitude 7 m",
      "##### END #####",
  };
  std::vector<std::string> disabled = withGps;
  disabled[0] = "##### 2026-12-09 21:05:30 GMT #####";
  disabled.erase(disabled.begin() + 12, disabled.begin() + 15);
  disabled.insert(disabled.begin() + 12, "### GPS IS DISABLED!");
  std::vector<std::string> invalid = withGps;
  invalid[0] = "##### 2026-12-09 21:06:00 GMT #####";
  invalid[13] = "# Invalid gps time reference (age: 31 sec)";
  const auto reports = parseLinkReports(entriesOf(concat({withGps, disabled, invalid})));
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].timeReference, TimeReference::Valid);
  EXPECT_EQ(reports[0].timeReferenceAge, 0);
  ASSERT_TRUE(reports[0].gps);
  EXPECT_EQ(reports[0].gps->latitude, 52.09118);
  EXPECT_EQ(reports[0].gps->longitude, 5.12246);
  EXPECT_EQ(reports[0].gps->altitude, 7);
  EXPECT_EQ(reports[0].gps->source, "system");
  EXPECT_EQ(reports[1].timeReference, TimeReference::Disabled);
  EXPECT_TRUE(reports[1].gpsBlock);
  EXPECT_FALSE(reports[1].gps);
  EXPECT_EQ(reports[2].timeReference, TimeReference::Invalid);
  EXPECT_EQ(reports[2].timeReferenceAge, 31);
}

// A report without date or end lines, as forwarders that write neither print it.
const std::vector<std::string> kBareReport{
    "### [UPSTREAM] ###",
    "# RF packets received by concentrator: 3",
    "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%",
    "# RF packets forwarded: 3 (60 bytes)",
    "# PUSH_DATA datagrams sent: 4 (812 bytes)",
    "# PUSH_DATA acknowledged: 50.00%",
    "### [DOWNSTREAM] ###",
    "# PULL_DATA sent: 3 (66.67% acknowledged)",
    "# PULL_RESP(onse) datagrams received: 0 (0 bytes)",
    "# RF packets sent to concentrator: 0 (0 bytes)",
    "# TX errors: 0",
    "### [GPS] ###",
    "# GPS sync is disabled",
};

TEST(LinkReports, AReportCutByARestartOfTheForwarder) {
  // The forwarder is restarted after the counters of its report (the GPS block still in its
  // buffer, lost) and begins the next one at once: that start does not finish the cut report.
  FakeJournal journal("packet-forwarder");
  std::string output;
  for (const std::string& line : journal.lines(linesOf(kBareReport, 0, 11), 30))
    output += line + "\n";
  journal.pid(1300);
  for (const std::string& line : journal.lines(concat({kBareReport, kBareReport}), 2))
    output += line + "\n";
  std::vector<JournalEntry> entries = parseJournal(output);
  const auto reports = parseLinkReports(entries);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_FALSE(reports[0].complete);
  EXPECT_FALSE(reports[0].gpsBlock);
  EXPECT_TRUE(reports[1].complete);
  EXPECT_TRUE(reports[1].gpsBlock);
  EXPECT_FALSE(reports[2].complete);  // the next start may still come

  // Entries that do not tell their process are read as one forwarder's.
  for (JournalEntry& entry : entries)
    entry.pid.reset();
  EXPECT_TRUE(parseLinkReports(entries)[0].complete);

  // A restart cuts a report that lacks a counter: the new forwarder's line is not read into it.
  FakeJournal again("packet-forwarder");
  output.clear();
  for (const std::string& line :
       again.lines(linesOf(statisticsReport("2026-12-09 01:02:03", 5, "100.00"), 0, 11), 30))
    output += line + "\n";
  again.pid(1400);
  for (const std::string& line : again.lines({"# TX errors: 0", "### [UPSTREAM] ###"}, 2))
    output += line + "\n";
  EXPECT_TRUE(parseLinkReports(parseJournal(output)).empty());
}

TEST(LinkReports, FedInPiecesTheReaderFindsWhatItFindsInTheWhole) {
  // Chatter, a report cut when the forwarder stopped (its end line not yet seen, so it is only
  // known to be cut once an end line comes), full reports, and one still being written.
  std::vector<std::string> cut = statisticsReport("2026-12-09 01:03:03", 7, "100.00");
  cut.resize(13);
  const std::vector<JournalEntry> entries = entriesOf(concat({
      kChatter,
      cut,
      statisticsReport("2026-12-09 01:03:33", 1, "100.00"),
      kChatter,
      statisticsReport("2026-12-09 01:04:03", 2, "0.00", "0.00"),
      linesOf(statisticsReport("2026-12-09 01:04:33", 3, "100.00"), 0, 12),
  }));
  const std::vector<LinkReport> whole = parseLinkReports(entries);
  ASSERT_EQ(whole.size(), 4u);
  EXPECT_FALSE(whole[0].complete);
  EXPECT_FALSE(whole[3].complete);

  for (std::size_t split = 0; split <= entries.size(); ++split) {
    LinkReportReader reader;
    for (std::size_t i = 0; i < split; ++i)
      reader.feed(entries[i]);
    const std::vector<LinkReport> early = reader.snapshot();
    for (std::size_t i = split; i < entries.size(); ++i)
      reader.feed(entries[i]);
    EXPECT_EQ(reader.snapshot(), whole) << "split at " << split;
    // What was answered early is what the whole says, but for the report that was open then
    // and whether a report ended by the next one's start is complete.
    ASSERT_LE(early.size(), whole.size()) << split;
    for (std::size_t i = 0; i < early.size(); ++i) {
      EXPECT_EQ(early[i].rfReceived, whole[i].rfReceived) << split;
      EXPECT_EQ(early[i].arrival, whole[i].arrival) << split;
    }
  }

  // Read before the first end line, the cut report looks ended by the next one's start.
  LinkReportReader reader;
  for (std::size_t i = 0; i < kChatter.size() + cut.size() + 2; ++i)
    reader.feed(entries[i]);
  ASSERT_EQ(reader.finished().size(), 1u);
  EXPECT_TRUE(reader.finished()[0].complete);
}

TEST(LinkReports, ReadFromTheJournalNewestFirstAndAnsweredOldestFirst) {
  ScriptedSystemctl& fake = ScriptedSystemctl::instance();
  fake.reset();
  FakeJournal journal("packet-forwarder");
  fake.journal("packet-forwarder",
               journal.lines(concat({statisticsReport("2026-12-09 01:02:03", 1, "100.00"), kChatter,
                                     statisticsReport("2026-12-09 01:02:33", 2, "50.00")}),
                             30));
  EventLoop loop;
  const auto reports = loop.blockOn(readLinkReports("packet-forwarder"));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].rfReceived, 1);
  EXPECT_EQ(reports[1].rfReceived, 2);
  EXPECT_EQ(fake.calls("journalctl"),
            std::vector<std::string>{"journalctl [--unit=packet-forwarder] [--output=json] "
                                     "[--no-pager] [--lines=20000] [--output-fields=MESSAGE,_PID] "
                                     "[--since=-3600s] [--reverse]"});
}

}  // namespace
}  // namespace relaydash
