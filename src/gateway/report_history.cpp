#include "gateway/report_history.hpp"

#include <utility>

#include "gateway/command.hpp"
#include "gateway/journal.hpp"

namespace relaydash {

ReportHistory::ReportHistory(ReportHistoryLimits limits, JournalWatch watch)
    : limits_(limits),
      watch_(std::move(watch)),
      snapshot_(std::make_shared<const std::vector<LinkReport>>()) {}

void ReportHistory::forget() {
  if (turn_.free() == 0) {
    // A read is under way and will fill the history: the next call starts over.
    stale_ = true;
    return;
  }
  reset("");
}

void ReportHistory::reset(std::string unit) {
  unit_ = std::move(unit);
  reader_ = LinkReportReader();
  cursor_.reset();
  read_ = false;
  stale_ = false;
  fed_ = false;
  snapshot_ = std::make_shared<const std::vector<LinkReport>>();
}

Task<ReportHistory::Reports> ReportHistory::reports(std::string unit, std::int64_t nowMicros) {
  const std::uint64_t readsBefore = reads_;
  const Slots::Permit permit = co_await turn_.take();
  // Another caller read while this one waited: what it found is what there is.
  if (reads_ != readsBefore && read_ && !stale_ && unit == unit_) co_return snapshot_;

  const std::int64_t window = std::int64_t{limits_.windowSeconds} * 1'000'000;
  bool afresh =
      !read_ || stale_ || unit != unit_ || nowMicros - lastRead_ > window || nowMicros < lastRead_;
  if (!afresh) {
    if (!watch_.changed()) {
      trim(nowMicros);
      co_return snapshot_;
    }
    try {
      afresh = !(co_await readAfterCursor());
    } catch (const CommandError&) {
      // The cursor is gone with the file that held it (rotated, vacuumed): read the hour again.
      afresh = true;
    }
  }
  if (afresh) {
    reset(std::move(unit));
    // What happened until now is in the read that follows.
    watch_.changed();
    try {
      co_await readWindow();
    } catch (...) {
      reset("");
      throw;
    }
  }
  lastRead_ = nowMicros;
  ++reads_;
  trim(nowMicros);
  co_return snapshot_;
}

Task<void> ReportHistory::readWindow() {
  std::vector<JournalEntry> entries =
      co_await readJournal(linkReportQuery(unit_, limits_.windowSeconds));
  // Newest first: the cursor is the first entry's.
  if (!entries.empty()) cursor_ = entries.front().cursor;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
    feed(*entry);
  read_ = true;
}

Task<bool> ReportHistory::readAfterCursor() {
  if (!cursor_) {
    // The window held no entry at all: there is nothing to go on from.
    co_return false;
  }
  for (int page = 0; page < limits_.maxPages; ++page) {
    if (!isJournalCursor(*cursor_)) co_return false;
    JournalQuery query;
    query.unit = unit_;
    query.lines = limits_.pageEntries;
    query.afterCursor = *cursor_;
    query.fields = kLinkReportFields;
    const std::vector<JournalEntry> entries = co_await readJournal(std::move(query));
    for (const JournalEntry& entry : entries)
      feed(entry);
    if (!entries.empty()) cursor_ = entries.back().cursor;
    if (entries.size() < static_cast<std::size_t>(limits_.pageEntries)) co_return true;
  }
  co_return false;
}

void ReportHistory::feed(const JournalEntry& entry) {
  reader_.feed(entry);
  fed_ = true;
}

void ReportHistory::trim(std::int64_t nowMicros) {
  const std::int64_t oldest = nowMicros - std::int64_t{limits_.windowSeconds} * 1'000'000;
  if (reader_.dropOldest(oldest, limits_.maxReports) > 0) fed_ = true;
  if (!fed_) return;
  snapshot_ = std::make_shared<const std::vector<LinkReport>>(reader_.snapshot());
  fed_ = false;
}

}  // namespace relaydash
