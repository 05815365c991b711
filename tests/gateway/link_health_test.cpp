#include "gateway/link_health.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  EXPECT_EQ(r.time, 1'765'000'030'000'000);
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
                                     "[--no-pager] [--lines=20000] [--output-fields=MESSAGE] "
                                     "[--since=-3600s] [--reverse]"});
}

}  // namespace
}  // namespace relaydash
