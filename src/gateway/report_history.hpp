#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway/journal_watch.hpp"
#include "gateway/link_health.hpp"
#include "gateway/link_report_reader.hpp"
#include "runtime/slots.hpp"
#include "runtime/task.hpp"

namespace relaydash {

struct ReportHistoryLimits {
  int windowSeconds = 3600;
  std::size_t maxReports = 4096;
  int pageEntries = 2000;  // entries asked for by one read after the cursor
  int maxPages = 10;       // reads in a row after the cursor before the hour is read afresh
};

// The statistics reports of one unit's last hour, kept in memory so that a status page polled
// every few seconds costs one journalctl of what is new, or none at all.
//
// The first call reads the hour as readLinkReports does (newest first, capped) and keeps the
// cursor of the newest entry. Later calls first ask the JournalWatch whether the journal may
// have changed: when not, they answer the kept reports and run nothing. Otherwise they read the
// entries after the cursor, oldest first, a page at a time, and feed them to the same
// LinkReportReader, so a report split between two reads is read whole and answered once.
// The history starts over (everything dropped, the hour read again) when the unit changes, when
// its last read is older than the window, when the read after the cursor fails (the journal was
// rotated or vacuumed past it) and when more pages came than maxPages in a row.
//
// Memory: reports that reached the journal before the window are dropped, and at most
// maxReports are kept (4,096 by default: an hour at a 1 s stat interval). A LinkReport is 368
// bytes on x86-64 and allocates nothing more (its GPS source fits the string's own buffer);
// each is held twice, by the reader and by the snapshot handed out, so the bound is about
// 4,096 × 2 × 384 bytes (with the allocator's header) = 3 MiB. An hour at the usual 30 s is
// 120 reports, about 90 KiB.
//
// One read at a time: a caller that comes while another reads waits for it and answers what it
// read, running nothing itself.
class ReportHistory {
 public:
  using Reports = std::shared_ptr<const std::vector<LinkReport>>;

  explicit ReportHistory(ReportHistoryLimits limits = {},
                         JournalWatch watch = JournalWatch::fromEnvironment());

  // The unit's reports of the window before `nowMicros` (UTC), oldest first, as
  // parseLinkReports answers them. Never null. Raises CommandError when the journal cannot be
  // read from the start; the history is then empty.
  Task<Reports> reports(std::string unit, std::int64_t nowMicros);

  // Drops everything: the next call reads the hour afresh.
  void forget();

 private:
  void reset(std::string unit);
  Task<void> readWindow();
  // False when the journal gave more than maxPages pages, or the cursor is not one.
  Task<bool> readAfterCursor();
  void feed(const JournalEntry& entry);
  void trim(std::int64_t nowMicros);

  ReportHistoryLimits limits_;
  JournalWatch watch_;
  Slots turn_{1};
  std::string unit_;
  LinkReportReader reader_;
  std::optional<std::string> cursor_;  // of the newest entry read
  bool read_ = false;                  // the window was read and what came since
  bool stale_ = false;                 // forgotten while a read was under way
  bool fed_ = false;                   // the reader got entries since the snapshot was made
  std::int64_t lastRead_ = 0;          // when journalctl was last run
  std::uint64_t reads_ = 0;            // reads finished
  Reports snapshot_;
};

}  // namespace relaydash
