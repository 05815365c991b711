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

// An ISO-8601 UTC time in the form formatIsoUtc writes: "2026-12-09T01:02:03Z", with or without
// 1 to 9 digits of a second's fraction ("…03.5Z", "…03.123456Z"). `start` is the time (digits
// past the microsecond dropped); `end` the last microsecond the text stands for, the end of its
// last digit: "…03.5Z" stands for …03.500000 to …03.599999, "…03Z" for the whole second.
struct IsoUtcTime {
  std::int64_t start = 0;
  std::int64_t end = 0;
};
// nullopt for any other form, a date that does not exist, or a time before 1970.
std::optional<IsoUtcTime> parseIsoUtc(std::string_view text);

// A timestamp as systemctl shows it: an optional weekday, "YYYY-MM-DD HH:MM:SS", and a zone,
// e.g. "Tue 2026-12-08 10:11:12 UTC". "UTC", "GMT" and "Z" are read as UTC; any other zone name
// (or none) as the local time of this process, which is the gateway's (systemctl writes it in
// the same zone). nullopt for an empty value, "n/a", or text of another shape.
std::optional<std::int64_t> parseSystemdTimestamp(std::string_view text);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept;
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) noexcept;

}  // namespace relaydash
