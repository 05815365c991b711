#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace relaydash {

// Points in time travel as microseconds since 1970-01-01 00:00:00 UTC in a 64-bit integer, as
// the journal counts them: independent of the width of time_t, so dates after 2038 stay right
// on 32-bit boards.

// "2026-12-09T01:02:03Z", or with milliseconds "2026-12-09T01:02:03.123Z".
std::string formatIsoUtc(std::int64_t microseconds, bool withMilliseconds = false);

// A timestamp as systemctl shows it: an optional weekday, "YYYY-MM-DD HH:MM:SS", and a zone,
// e.g. "Tue 2026-12-08 10:11:12 UTC". "UTC", "GMT" and "Z" are read as UTC; any other zone name
// (or none) as the local time of this process, which is the gateway's (systemctl writes it in
// the same zone). nullopt for an empty value, "n/a", or text of another shape.
std::optional<std::int64_t> parseSystemdTimestamp(std::string_view text);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept;
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) noexcept;

}  // namespace relaydash
