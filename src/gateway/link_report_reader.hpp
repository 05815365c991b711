#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "gateway/journal.hpp"
#include "gateway/link_health.hpp"

namespace relaydash {

// Finds the forwarder's statistics reports in its journal entries, fed one at a time, oldest
// first, over as many calls as it takes: what a later feed reads depends on what came before (a
// report open across two reads, and whether this forwarder writes end lines at all).
//
// A report runs from its "##### <date> #####" line (or, without one, its "### [UPSTREAM] ###"
// line) to "##### END #####"; lines that belong to no report are ignored. A report ends cut when
// the entry after it comes from another process (_PID: the forwarder was restarted) and its
// rest never will. A report ended by the next one's start is complete only from a forwarder that
// writes no end lines; once an end line is seen, every such report so far is taken for cut.
class LinkReportReader {
 public:
  void feed(const JournalEntry& entry);

  // The reports that have ended, oldest first. A report that ended before it held every counter
  // of the upstream and downstream blocks is left out, unless it reached its end line.
  const std::deque<LinkReport>& finished() const noexcept { return finished_; }
  // The report being read, when it already holds every counter: the rest of it may still be in
  // the forwarder's buffer, or lost. Never complete.
  std::optional<LinkReport> openReport() const;
  // The finished reports then the open one, as openReport() tells.
  std::vector<LinkReport> snapshot() const;

  // Forgets the oldest finished reports: those that reached the journal before `arrival`, then
  // as many more as keep at most `count`. Answers how many were dropped.
  std::size_t dropOldest(std::int64_t arrival, std::size_t count);

 private:
  enum class Ending { End, NextReport, Cut };

  void line(std::int64_t time, std::string_view text);
  void open(std::int64_t time, std::optional<std::int64_t> written);
  void finish(Ending ending);

  // A plain member and a flag rather than an optional: g++ 12 at -O3 takes the optional's
  // nested optionals for uninitialised.
  LinkReport current_;
  bool open_ = false;
  bool upstreamSeen_ = false;
  bool inGps_ = false;
  std::optional<int> openPid_;  // the process that wrote the open report's first line
  std::optional<int> linePid_;  // the process that wrote the line being read
  bool endLines_ = false;       // the forwarder ends its reports with "##### END #####"
  std::deque<LinkReport> finished_;
  std::deque<bool> endedByNext_;  // finished_[i] was ended by the next report's start
};

}  // namespace relaydash
