#include "gateway/report_history.hpp"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway/command.hpp"
#include "runtime/event_loop.hpp"
#include "support/fake_journal.hpp"
#include "support/scripted_systemctl.hpp"

namespace relaydash {
namespace {

using testing::FakeJournal;
using testing::ScriptedSystemctl;
using testing::statisticsReport;

constexpr const char* kUnit = "packet-forwarder";

class ReportHistoryTest : public ::testing::Test {
 protected:
  ScriptedSystemctl& fake = ScriptedSystemctl::instance();
  FakeJournal journal{kUnit};
  EventLoop loop;
  int written = 0;  // reports written to the journal

  void SetUp() override { fake.reset(); }

  std::string journalFile() const {
    return fake.directory() + "/state/journal-" + kUnit + ".jsonl";
  }

  // The next report, 30 s after the one before; its received count is its number, from 1.
  std::vector<std::string> nextReport() {
    ++written;
    char date[32];
    std::snprintf(date, sizeof date, "2026-12-09 01:%02d:%02d", written * 30 / 60 % 60,
                  written * 30 % 60);
    return statisticsReport(date, written, "100.00");
  }
  void append(const std::vector<std::string>& lines, double firstAfter = 30) {
    fake.journal(kUnit, journal.lines(lines, firstAfter));
  }
  void appendReports(int count) {
    for (int i = 0; i < count; ++i)
      append(nextReport());
  }

  // A history whose watch sees the fake's journal file, as RELAYDASH_JOURNAL_WATCH tells it.
  std::unique_ptr<ReportHistory> history(ReportHistoryLimits limits = {}) {
    const char* before = ::getenv("RELAYDASH_JOURNAL_WATCH");
    const std::string kept = before ? before : "";
    ::setenv("RELAYDASH_JOURNAL_WATCH", journalFile().c_str(), 1);
    auto made = std::make_unique<ReportHistory>(limits);
    if (before) {
      ::setenv("RELAYDASH_JOURNAL_WATCH", kept.c_str(), 1);
    } else {
      ::unsetenv("RELAYDASH_JOURNAL_WATCH");
    }
    return made;
  }

  std::int64_t now() const { return journal.lastTime() + 1'000'000; }
  ReportHistory::Reports read(ReportHistory& h, std::int64_t at) {
    return loop.blockOn(h.reports(kUnit, at));
  }
  ReportHistory::Reports read(ReportHistory& h) { return read(h, now()); }

  std::vector<std::string> journalctl() const { return fake.calls("journalctl"); }
  std::string afterCursorCall(const std::string& cursor, int lines = 2000) const {
    return "journalctl [--unit=packet-forwarder] [--output=json] [--no-pager] [--lines=" +
           std::to_string(lines) + "] [--output-fields=MESSAGE,_PID] [--after-cursor=" + cursor +
           "]";
  }
  static std::string windowCall(int seconds = 3600) {
    return "journalctl [--unit=packet-forwarder] [--output=json] [--no-pager] [--lines=20000] "
           "[--output-fields=MESSAGE,_PID] [--since=-" +
           std::to_string(seconds) + "s] [--reverse]";
  }
};

std::vector<std::int64_t> received(const ReportHistory::Reports& reports) {
  std::vector<std::int64_t> numbers;
  for (const LinkReport& r : *reports)
    numbers.push_back(r.rfReceived.value_or(-1));
  return numbers;
}

TEST_F(ReportHistoryTest, TheHourOnceThenOnlyWhatIsNewAndNothingWhenNothingIs) {
  appendReports(2);
  const auto h = history();
  const auto first = read(*h);
  EXPECT_EQ(received(first), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(journalctl(), std::vector<std::string>{windowCall()});

  // Nothing written since: no journalctl, the same reports.
  const auto again = read(*h);
  EXPECT_EQ(again, first);
  EXPECT_EQ(journalctl().size(), 1u);

  // Half a report, then the rest: one read after the cursor each, the report answered once it
  // holds its counters, and once only.
  const std::vector<std::string> third = nextReport();
  std::string cursor = journal.lastCursor();
  append({third.begin(), third.begin() + 8});
  EXPECT_EQ(received(read(*h)), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(journalctl().back(), afterCursorCall(cursor));
  cursor = journal.lastCursor();
  append({third.begin() + 8, third.end()}, 0.001);
  const auto whole = read(*h);
  EXPECT_EQ(received(whole), (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_TRUE(whole->back().complete);
  EXPECT_TRUE(whole->back().gpsBlock);
  EXPECT_EQ(journalctl().size(), 3u);
  EXPECT_EQ(journalctl().back(), afterCursorCall(cursor));

  EXPECT_EQ(read(*h), whole);
  EXPECT_EQ(journalctl().size(), 3u);

  // What the history holds is what the hour read afresh says.
  h->forget();
  EXPECT_EQ(*read(*h), *whole);
  EXPECT_EQ(journalctl().back(), windowCall());
}

TEST_F(ReportHistoryTest, AReportCutByARestartAndTheOneAfterIt) {
  appendReports(1);
  const auto h = history();
  ASSERT_EQ(read(*h)->size(), 1u);
  // The counters of the second, the rest still in the forwarder's buffer: it counts, unfinished.
  const std::vector<std::string> second = nextReport();
  append({second.begin(), second.begin() + 12});
  const auto open = read(*h);
  ASSERT_EQ(received(open), (std::vector<std::int64_t>{1, 2}));
  EXPECT_FALSE(open->back().complete);
  // The forwarder is restarted: the rest never comes, and a new process reports.
  journal.pid(1300);
  appendReports(1);
  const auto after = read(*h);
  ASSERT_EQ(received(after), (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_FALSE((*after)[1].complete);
  EXPECT_FALSE((*after)[1].gpsBlock);
  EXPECT_TRUE((*after)[2].complete);
  EXPECT_EQ((*after)[2].timeReference, TimeReference::Valid);
  EXPECT_EQ(journalctl().size(), 3u);
}

TEST_F(ReportHistoryTest, AJournalThatLostTheCursorIsReadAfresh) {
  appendReports(3);
  const auto h = history();
  ASSERT_EQ(read(*h)->size(), 3u);
  const std::string cursor = journal.lastCursor();

  // Rotated and vacuumed: a journal of other entries, the kept cursor not among them.
  std::ofstream(journalFile(), std::ios::trunc).close();
  FakeJournal other(kUnit, journal.lastTime());
  written = 40;
  fake.journal(kUnit, other.lines(nextReport(), 30));
  const auto fresh = read(*h, other.lastTime() + 1'000'000);
  EXPECT_EQ(received(fresh), std::vector<std::int64_t>{41});
  const auto calls = journalctl();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1], afterCursorCall(cursor));
  EXPECT_EQ(calls[2], windowCall());

  // The fresh read fails too: the error is raised, nothing is kept, and the next call starts
  // over.
  other.pid(77);
  fake.journal(kUnit, other.lines({"INFO: restarted"}, 1));
  fake.answer("journalctl", "1");
  EXPECT_THROW(read(*h, other.lastTime() + 1'000'000), CommandError);
  EXPECT_EQ(journalctl().size(), 5u);
  fake.answer("journalctl", "0");
  EXPECT_EQ(received(read(*h, other.lastTime() + 1'000'000)), std::vector<std::int64_t>{41});
  EXPECT_EQ(journalctl().back(), windowCall());

  // Another unit: its own hour.
  EXPECT_TRUE(loop.blockOn(h->reports("other-forwarder", other.lastTime()))->empty());
  EXPECT_EQ(journalctl().back(),
            "journalctl [--unit=other-forwarder] [--output=json] [--no-pager] [--lines=20000] "
            "[--output-fields=MESSAGE,_PID] [--since=-3600s] [--reverse]");
}

TEST_F(ReportHistoryTest, TheWindowAndTheBoundDropTheOldest) {
  appendReports(10);  // 30 s apart
  const auto h = history({.windowSeconds = 100});
  // The fake journal gives all ten whatever the --since: the history drops those before the
  // window itself.
  const std::int64_t at = now();
  const auto inWindow = read(*h, at);
  EXPECT_EQ(received(inWindow), (std::vector<std::int64_t>{7, 8, 9, 10}));
  for (const LinkReport& r : *inWindow)
    EXPECT_GE(r.arrival, at - 100'000'000);
  // Time passes, nothing is written: fewer reports, and no journalctl.
  EXPECT_EQ(received(read(*h, at + 60'000'000)), (std::vector<std::int64_t>{9, 10}));
  EXPECT_EQ(journalctl().size(), 1u);
  // The last read is older than the window: the hour is read again.
  EXPECT_EQ(received(read(*h, at + 101'000'000)), std::vector<std::int64_t>{});
  EXPECT_EQ(journalctl().size(), 2u);
  EXPECT_EQ(journalctl().back(), windowCall(100));

  const auto bounded = history({.maxReports = 3});
  EXPECT_EQ(received(read(*bounded)), (std::vector<std::int64_t>{8, 9, 10}));
  appendReports(2);
  EXPECT_EQ(received(read(*bounded)), (std::vector<std::int64_t>{10, 11, 12}));
}

TEST_F(ReportHistoryTest, ManyNewEntriesAreReadInPagesThenAfresh) {
  appendReports(1);
  const auto h = history({.pageEntries = 10, .maxPages = 2});
  ASSERT_EQ(read(*h)->size(), 1u);
  // 16 lines: a full page, then one that is not.
  appendReports(1);
  EXPECT_EQ(received(read(*h)), (std::vector<std::int64_t>{1, 2}));
  auto calls = journalctl();
  ASSERT_EQ(calls.size(), 3u);
  for (std::size_t i : {1, 2}) {
    EXPECT_NE(calls[i].find("[--lines=10]"), std::string::npos) << calls[i];
    EXPECT_NE(calls[i].find("[--after-cursor="), std::string::npos) << calls[i];
  }
  EXPECT_NE(calls[1], calls[2]);
  // 32 lines: two full pages, then the hour afresh.
  appendReports(2);
  EXPECT_EQ(received(read(*h)), (std::vector<std::int64_t>{1, 2, 3, 4}));
  calls = journalctl();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[5], windowCall());
}

TEST_F(ReportHistoryTest, CallersAtOnceShareOneRead) {
  appendReports(1);
  // A watch that sees nothing cannot tell that nothing changed: every call reads what is new.
  ReportHistory h({}, JournalWatch({fake.directory() + "/nowhere"}));
  ASSERT_EQ(loop.blockOn(h.reports(kUnit, now()))->size(), 1u);
  appendReports(1);

  ReportHistory::Reports first, second;
  loop.blockOn([](ReportHistory& h, std::int64_t at, ReportHistory::Reports& first,
                  ReportHistory::Reports& second) -> Task<void> {
    // The first starts its journalctl at once; the second waits for it.
    EventLoop::current().spawn(
        [](ReportHistory& h, std::int64_t at, ReportHistory::Reports& out) -> Task<void> {
          out = co_await h.reports(kUnit, at);
        }(h, at, first));
    second = co_await h.reports(kUnit, at);
  }(h, now(), first, second));
  ASSERT_TRUE(first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(received(second), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(journalctl().size(), 2u);
  // On its own, a call reads.
  EXPECT_EQ(loop.blockOn(h.reports(kUnit, now())), second);
  EXPECT_EQ(journalctl().size(), 3u);
}

}  // namespace
}  // namespace relaydash
