#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/process.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// One entry of the systemd journal, as journalctl --output=json writes it.
struct JournalEntry {
  std::string cursor;           // __CURSOR: where to go on after this entry
  std::int64_t realtime = 0;    // __REALTIME_TIMESTAMP: microseconds since 1970, UTC
  std::optional<int> priority;  // PRIORITY, 0 (emerg) to 7 (debug), when the entry has one
  std::string message;          // MESSAGE, always valid UTF-8
  std::optional<int> pid;       // _PID: the process that wrote it, when asked for and known
};

// Reads journalctl's JSON output: one object per line (see parseJournalLine). Lines that are no
// entry (the last line of an output cut off at its size cap, say) are skipped.
std::vector<JournalEntry> parseJournal(std::string_view output);

// The bytes with every byte that does not belong to a well-formed UTF-8 sequence replaced by
// U+FFFD, so that the JSON written from it is text.
std::string validUtf8(std::string_view bytes);

// Whether the text can be a journal cursor ("s=…;i=…;b=…;m=…;t=…;x=…"): short, only letters,
// digits, "=", ";" and "-", and not starting with "-". What journalctl gets as --after-cursor is
// checked with it.
bool isJournalCursor(std::string_view text);

struct JournalQuery {
  std::string unit;                        // a systemd unit name, never empty
  int lines = 200;                         // at most this many entries, the most recent
  std::optional<std::string> afterCursor;  // only entries after this one
  std::optional<std::string> since;        // only entries from then on (journalctl's --since)
  std::optional<std::string> until;        // only entries up to then (journalctl's --until)
  std::optional<int> priority;             // only entries this urgent or more, 0 to 7 (-p)
  bool newestFirst = false;
  // Fields besides the cursor and the time that the entries need.
  std::string fields = "MESSAGE,PRIORITY";
  ProcessLimits limits{.maxOutput = std::size_t{4} << 20};
};

// A point in time as journalctl's --since and --until read it, in UTC whatever the gateway's
// zone: "2026-12-09 21:05:00 UTC", "2026-12-09 21:05:00.250000 UTC".
std::string journalTime(std::int64_t microseconds);

// The command line that answers the query.
std::vector<std::string> journalctlArguments(const JournalQuery& query, bool selectFields);

// Runs journalctl for the query and answers its entries, in the order asked. Raises
// CommandError when journalctl fails. journalctl before systemd 236 knows no --output-fields:
// when it says so, the query is run again without it (a moment's work on such a system, which
// saves copying every field of every entry on all the others).
Task<std::vector<JournalEntry>> readJournal(JournalQuery query);

// Runs journalctl for the query as readJournal does, but hands each entry to `take` as it is
// read instead of collecting them: any number of entries costs the memory of one (a line longer
// than query.limits.maxOutput is skipped). Once `take` answers false, journalctl is stopped.
// Answers whether it was stopped (false: every entry of the query was read). Raises
// CommandError when journalctl fails.
Task<bool> scanJournal(JournalQuery query, std::function<bool(JournalEntry&&)> take);

}  // namespace relaydash
