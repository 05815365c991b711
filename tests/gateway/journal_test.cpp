#include "gateway/journal.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "gateway/command.hpp"
#include "gateway/journal_line.hpp"
#include "runtime/event_loop.hpp"
#include "support/fake_journal.hpp"
#include "support/scripted_systemctl.hpp"

namespace relaydash {
namespace {

using testing::FakeJournal;
using testing::ScriptedSystemctl;
using namespace std::chrono_literals;

const std::string kReplacement = "\xEF\xBF\xBD";

std::vector<JournalEntry> readNow(JournalQuery query) {
  EventLoop loop;
  return loop.blockOn(readJournal(std::move(query)));
}

std::vector<std::string> messages(const std::vector<JournalEntry>& entries) {
  std::vector<std::string> out;
  for (const JournalEntry& e : entries)
    out.push_back(e.message);
  return out;
}

TEST(JournalText, InvalidUtf8IsReplacedNeverDropped) {
  const struct {
    std::string bytes;
    std::string text;
  } rows[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9 \xF0\x9F\x93\xA1", "caf\xC3\xA9 \xF0\x9F\x93\xA1"},  // 2- and 4-byte forms
      {"a\xFF"
       "b",
       "a" + kReplacement + "b"},
      {"\xC0\x80", kReplacement + kReplacement},                     // overlong
      {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement},  // a surrogate
      {"\xF5\x80\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement},
      {"end\xE2\x82", "end" + kReplacement + kReplacement},  // cut off
  };
  for (const auto& row : rows)
    EXPECT_EQ(validUtf8(row.bytes), row.text) << row.bytes;
}

// A line as journalctl writes it, with the MESSAGE value given.
std::string lineWith(const std::string& message) {
  return R"({"__CURSOR":"s=1;i=2","__REALTIME_TIMESTAMP":"1765000000000000","PRIORITY":"6",)"
         R"("_CMDLINE":"/opt/lora_pkt_fwd -c \"x\"","MESSAGE":)" +
         message + "}";
}

TEST(JournalLine, MessageValuesInEveryFormTheJournalUses) {
  const struct {
    const char* json;
    std::string text;
  } rows[] = {
      {R"("INFO: concentrator started")", "INFO: concentrator started"},
      {R"("tab\tquote\" slash\/ \u00e9 \ud83d\udce1 lone \ud800.")",
       "tab\tquote\" slash/ \xC3\xA9 \xF0\x9F\x93\xA1 lone " + kReplacement + "."},
      {"[27,91,51,49,109,69,82,82,27,91,48,109]", "\x1b[31mERR\x1b[0m"},  // control characters
      {"[115,101,110,115,111,114,32,255,254]", "sensor " + kReplacement + kReplacement},
      {R"(["first","second"])", "first\nsecond"},  // the field given twice
      {"[[104,105],\"there\"]", "hi\nthere"},
      {"null", ""},  // left out as too large
      {"[]", ""},
  };
  for (const auto& row : rows) {
    const auto entry = parseJournalLine(lineWith(row.json));
    ASSERT_TRUE(entry) << row.json;
    EXPECT_EQ(entry->message, row.text) << row.json;
  }
}

TEST(JournalLine, TheOldSpacedFormAndMembersThatAreSkipped) {
  const auto entry = parseJournalLine(
      R"({ "__CURSOR" : "s=a;i=1", "__REALTIME_TIMESTAMP" : "17", "_UID" : 0, "X" : [ { "y" : [ true, false, null, -1.5e3 ] } ], "MESSAGE" : "m" })");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->cursor, "s=a;i=1");
  EXPECT_EQ(entry->realtime, 17);
  EXPECT_EQ(entry->message, "m");
  EXPECT_EQ(entry->pid, std::nullopt);
  // A process id that is no number, or none a process can have, is not taken.
  for (const char* pid : {R"("x")", R"("0")", R"("-5")", R"("99999999999")", "17"}) {
    const auto odd = parseJournalLine(
        std::string(R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"1",)") + R"("_PID":)" + pid + "}");
    ASSERT_TRUE(odd) << pid;
    EXPECT_EQ(odd->pid, std::nullopt) << pid;
  }
}

TEST(JournalLine, EveryPrefixOfALineIsRefusedAndNothingElseIsTakenForAnEntry) {
  const std::string line = lineWith("[[72,105],[1,2],\"x\\u0041\"]");
  ASSERT_TRUE(parseJournalLine(line));
  for (std::size_t n = 0; n < line.size(); ++n)
    EXPECT_FALSE(parseJournalLine(line.substr(0, n))) << n;
  for (const char* bad :
       {"", "[]", "{}", R"({"__CURSOR":"s=1"})", R"({"__REALTIME_TIMESTAMP":"1"})",
        R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"x1"})",
        R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"1"} trailing)",
        R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"1","MESSAGE":[256]})",
        R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"1","MESSAGE":"\q"})",
        R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"1","A":[[[[[1]]]]]})"}) {
    EXPECT_FALSE(parseJournalLine(bad)) << bad;
  }
}

TEST(JournalText, Cursors) {
  FakeJournal journal("x");
  EXPECT_TRUE(isJournalCursor(journal.cursor(1)));
  EXPECT_TRUE(isJournalCursor("s=0;i=1"));
  for (const std::string& bad : std::vector<std::string>{
           "", "s=1 i=2", "s=1;i=2\n", "--unit=x", "s=1;i=2;'$(reboot)'", std::string(600, 'a')}) {
    EXPECT_FALSE(isJournalCursor(bad)) << bad;
  }
}

TEST(JournalText, TimesAsJournalctlReadsThemInUtc) {
  EXPECT_EQ(journalTime(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(journalTime(1'765'000'000'250'000), "2025-12-06 05:46:40.250000 UTC");
  EXPECT_EQ(journalTime(1'765'000'000'000'001), "2025-12-06 05:46:40.000001 UTC");
  EXPECT_EQ(journalTime(1'765'000'000'999'999), "2025-12-06 05:46:40.999999 UTC");
}

TEST(ParseJournal, EntriesLinesTheRunnerCutAndLinesThatAreNoEntries) {
  FakeJournal journal("packet-forwarder");
  const std::string a = journal.text("started", 5);
  const std::string b = journal.bytes("raw \xFF");
  std::string output = a + "\n" + b + "\n-- No entries --\n{\"MESSAGE\":\"no cursor\"}\n[1]\n" +
                       journal.text("cut off at the cap").substr(0, 60);
  const std::vector<JournalEntry> entries = parseJournal(output);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].cursor, journal.cursor(1));
  EXPECT_EQ(entries[0].realtime, 1'765'000'000'500'000);
  EXPECT_EQ(entries[0].priority, 5);
  EXPECT_EQ(entries[0].message, "started");
  EXPECT_EQ(entries[0].pid, 1234);
  EXPECT_EQ(entries[1].message, "raw " + kReplacement);
  // An entry without PRIORITY has none.
  const auto bare = parseJournal(R"({"__CURSOR":"s=1","__REALTIME_TIMESTAMP":"7","MESSAGE":"m"})");
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(bare[0].priority, std::nullopt);
}

class ReadJournal : public ::testing::Test {
 protected:
  ScriptedSystemctl& fake = ScriptedSystemctl::instance();
  FakeJournal journal{"packet-forwarder"};

  void SetUp() override {
    fake.reset();
    std::vector<std::string> entries;
    for (int i = 1; i <= 5; ++i)
      entries.push_back(journal.text("line " + std::to_string(i)));
    fake.journal("packet-forwarder", entries);
  }

  JournalQuery query(int lines = 200) {
    JournalQuery q;
    q.unit = "packet-forwarder";
    q.lines = lines;
    return q;
  }
};

TEST_F(ReadJournal, TheLastLinesThenWhatFollowsACursor) {
  EXPECT_EQ(messages(readNow(query(2))), (std::vector<std::string>{"line 4", "line 5"}));
  EXPECT_EQ(fake.calls("journalctl"),
            std::vector<std::string>{"journalctl [--unit=packet-forwarder] [--output=json] "
                                     "[--no-pager] [--lines=2] "
                                     "[--output-fields=MESSAGE,PRIORITY]"});
  JournalQuery after = query();
  after.afterCursor = journal.cursor(3);
  EXPECT_EQ(messages(readNow(after)), (std::vector<std::string>{"line 4", "line 5"}));
  after.afterCursor = journal.cursor(5);
  EXPECT_TRUE(readNow(after).empty());
  JournalQuery newest = query(2);
  newest.newestFirst = true;
  EXPECT_EQ(messages(readNow(newest)), (std::vector<std::string>{"line 5", "line 4"}));
}

TEST_F(ReadJournal, ATimeRangeAndAPriorityGoToJournalctl) {
  // Entries half a second apart from 05:46:40.5; the third is a warning.
  fake.reset();
  FakeJournal j("packet-forwarder");
  fake.journal("packet-forwarder", {j.text("one"), j.text("two"), j.text("three", 4),
                                    j.text("four"), j.text("five", 3)});
  JournalQuery q = query();
  q.since = journalTime(1'765'000'001'000'000);  // "two"
  q.until = journalTime(1'765'000'002'000'000);  // "four"
  EXPECT_EQ(messages(readNow(q)), (std::vector<std::string>{"two", "three", "four"}));
  EXPECT_NE(fake.calls("journalctl")
                .back()
                .find("[--since=2025-12-06 05:46:41 UTC] "
                      "[--until=2025-12-06 05:46:42 UTC]"),
            std::string::npos)
      << fake.calls("journalctl").back();
  q.priority = 4;
  EXPECT_EQ(messages(readNow(q)), std::vector<std::string>{"three"});
  EXPECT_NE(fake.calls("journalctl").back().find("[--priority=4]"), std::string::npos);
  q.until.reset();
  q.newestFirst = true;
  EXPECT_EQ(messages(readNow(q)), (std::vector<std::string>{"five", "three"}));
}

TEST_F(ReadJournal, FailuresSayWhatWentWrong) {
  JournalQuery unknown = query();
  unknown.afterCursor = "s=0;i=99";
  const struct {
    const char* status;
    JournalQuery query;
    const char* message;
  } rows[] = {
      {"0", unknown, "journalctl failed with status 1: Failed to seek to cursor: Invalid argument"},
      {"1", query(), "journalctl failed with status 1: Failed to open journal: simulated failure"},
      {"hang",
       [&] {
         JournalQuery q = query();
         q.limits.timeout = 300ms;
         return q;
       }(),
       "journalctl did not finish within 300 ms"},
  };
  for (const auto& row : rows) {
    fake.answer("journalctl", row.status);
    try {
      readNow(row.query);
      ADD_FAILURE() << row.message;
    } catch (const CommandError& e) {
      EXPECT_STREQ(e.what(), row.message);
    }
  }
}

TEST_F(ReadJournal, AFloodIsCutAtTheCapWithoutAHalfEntry) {
  fake.flood("journalctl", 20'000);
  JournalQuery q = query();
  q.limits.maxOutput = 100'000;
  const std::vector<JournalEntry> entries = readNow(q);
  ASSERT_GT(entries.size(), 500u);
  ASSERT_LT(entries.size(), 2000u);
  EXPECT_EQ(entries.front().message, "noise 1");
  EXPECT_EQ(entries.back().message, "noise " + std::to_string(entries.size()));
}

TEST_F(ReadJournal, AnOldJournalctlIsAskedAgainWithoutFieldSelection) {
  fake.oldJournalctl();
  EXPECT_EQ(messages(readNow(query(1))), std::vector<std::string>{"line 5"});
  const auto calls = fake.calls("journalctl");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].find("--output-fields"), std::string::npos);
  EXPECT_EQ(calls[1].find("--output-fields"), std::string::npos);
}

// Scans the query's entries on a loop of its own, taking `wanted` of them at most.
struct Scan {
  std::vector<std::string> messages;
  bool stopped = false;
};
Scan scanNow(JournalQuery query, std::size_t wanted = SIZE_MAX) {
  EventLoop loop;
  Scan scan;
  scan.stopped = loop.blockOn(scanJournal(std::move(query), [&](JournalEntry&& entry) {
    scan.messages.push_back(std::move(entry.message));
    return scan.messages.size() < wanted;
  }));
  return scan;
}

TEST_F(ReadJournal, AScanHandsOnEachEntryAndStopsJournalctlWhenToldTo) {
  const Scan all = scanNow(query());
  EXPECT_EQ(all.messages,
            (std::vector<std::string>{"line 1", "line 2", "line 3", "line 4", "line 5"}));
  EXPECT_FALSE(all.stopped);
  JournalQuery newest = query();
  newest.newestFirst = true;
  const Scan two = scanNow(newest, 2);
  EXPECT_EQ(two.messages, (std::vector<std::string>{"line 5", "line 4"}));
  EXPECT_TRUE(two.stopped);

  // Far more than a pipe holds at once: every entry whole, in order, none held meanwhile.
  fake.flood("journalctl", 30'000);
  JournalQuery flood = query();
  flood.limits.maxOutput = 200;  // the longest line kept
  const Scan many = scanNow(flood);
  ASSERT_EQ(many.messages.size(), 30'000u);
  for (std::size_t i = 0; i < many.messages.size(); ++i)
    ASSERT_EQ(many.messages[i], "noise " + std::to_string(i + 1));
  const Scan stopped = scanNow(flood, 10);
  EXPECT_EQ(stopped.messages.size(), 10u);
  EXPECT_TRUE(stopped.stopped);
}

TEST_F(ReadJournal, AScanSkipsALineTooLongAndFailsAsReadingDoes) {
  fake.journal("packet-forwarder", {journal.text(std::string(5000, 'x')), journal.text("after")});
  JournalQuery q = query();
  q.limits.maxOutput = 1000;
  EXPECT_EQ(scanNow(q).messages,
            (std::vector<std::string>{"line 1", "line 2", "line 3", "line 4", "line 5", "after"}));

  fake.oldJournalctl();
  EXPECT_EQ(scanNow(query(), 1).messages, std::vector<std::string>{"line 1"});
  const auto calls = fake.calls("journalctl");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_NE(calls[calls.size() - 2].find("--output-fields"), std::string::npos);
  EXPECT_EQ(calls.back().find("--output-fields"), std::string::npos);

  fake.answer("journalctl", "1");
  try {
    scanNow(query());
    ADD_FAILURE() << "a failing journalctl";
  } catch (const CommandError& e) {
    EXPECT_STREQ(e.what(),
                 "journalctl failed with status 1: Failed to open journal: simulated failure");
  }
}

}  // namespace
}  // namespace relaydash
