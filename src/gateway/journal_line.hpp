#pragma once

#include <optional>
#include <string_view>

#include "gateway/journal.hpp"

namespace relaydash {

// Limits of the journal line reader, in one place.
// Arrays inside a value nest no deeper than this (the journal writes at most two levels: a
// field given several times, each value an array of bytes).
inline constexpr int kMaxJournalNesting = 4;

// One line of `journalctl --output=json`: an object whose members are the entry's fields. Only
// __CURSOR, __REALTIME_TIMESTAMP (a decimal string), PRIORITY, _PID and MESSAGE are read; every
// other member is skipped without being decoded, so a line costs little more than scanning it.
// MESSAGE may be a string, an array of byte values (text that is not valid UTF-8 or holds control
// characters), an array of such values (a field given several times: one per line) or null
// (left out as too large: the empty string); its text is always valid UTF-8, invalid bytes
// replaced by U+FFFD. nullopt for a line that is not such an object or lacks the cursor or the
// time. Allocates only for the fields it keeps; never reads outside the view.
std::optional<JournalEntry> parseJournalLine(std::string_view line);

}  // namespace relaydash
