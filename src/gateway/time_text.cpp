#include "gateway/time_text.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "ascii/ascii.hpp"

namespace relaydash {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;

bool readNumber(std::string_view& text, std::size_t digits, unsigned& out) {
  if (text.size() < digits) return false;
  const char* end = text.data() + digits;
  const auto [ptr, error] = std::from_chars(text.data(), end, out);
  if (error != std::errc() || ptr != end) return false;
  text.remove_prefix(digits);
  return true;
}

bool expect(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

// Local wall-clock time to UTC through the C library, which knows the zone's rules; the zone's
// name decides between standard and summer time where the clock shows an hour twice.
std::optional<std::int64_t> localToUtc(unsigned year, unsigned month, unsigned day, unsigned hour,
                                       unsigned minute, unsigned second, std::string_view zone) {
  // tzname is read before mktime would set it.
  ::tzset();
  std::tm tm{};
  tm.tm_year = static_cast<int>(year) - 1900;
  tm.tm_mon = static_cast<int>(month) - 1;
  tm.tm_mday = static_cast<int>(day);
  tm.tm_hour = static_cast<int>(hour);
  tm.tm_min = static_cast<int>(minute);
  tm.tm_sec = static_cast<int>(second);
  tm.tm_isdst = -1;
  if (!zone.empty() && zone == ::tzname[0]) tm.tm_isdst = 0;
  if (!zone.empty() && zone == ::tzname[1]) tm.tm_isdst = 1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(t) * kMicrosPerSecond;
}

}  // namespace

// Howard Hinnant's algorithms for the civil calendar, over eras of 400 years.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146'097 + static_cast<std::int64_t>(doe) - 719'468;
}

void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) noexcept {
  days += 719'468;
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto doe = static_cast<unsigned>(days - era * 146'097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

std::string formatIsoUtc(std::int64_t microseconds, bool withMilliseconds) {
  std::int64_t seconds = microseconds / kMicrosPerSecond;
  std::int64_t micros = microseconds % kMicrosPerSecond;
  if (micros < 0) {
    micros += kMicrosPerSecond;
    --seconds;
  }
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t inDay = seconds % kSecondsPerDay;
  if (inDay < 0) {
    inDay += kSecondsPerDay;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  civilFromDays(days, year, month, day);
  char text[48];
  const int hour = static_cast<int>(inDay / 3600);
  const int minute = static_cast<int>(inDay / 60 % 60);
  const int second = static_cast<int>(inDay % 60);
  if (withMilliseconds) {
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<long long>(year), month, day, hour, minute, second,
                  static_cast<int>(micros / 1000));
  } else {
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<long long>(year), month, day, hour, minute, second);
  }
  return text;
}

std::optional<IsoUtcTime> parseIsoUtc(std::string_view text) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readNumber(text, 4, year) || !expect(text, '-') || !readNumber(text, 2, month) ||
      !expect(text, '-') || !readNumber(text, 2, day) || !expect(text, 'T') ||
      !readNumber(text, 2, hour) || !expect(text, ':') || !readNumber(text, 2, minute) ||
      !expect(text, ':') || !readNumber(text, 2, second)) {
    return std::nullopt;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  // A day the month does not have comes back from the calendar as another date.
  const std::int64_t days = daysFromCivil(year, month, day);
  std::int64_t y = 0;
  unsigned m = 0, d = 0;
  civilFromDays(days, y, m, d);
  if (m != month || d != day) return std::nullopt;

  std::int64_t fraction = 0;
  std::int64_t step = kMicrosPerSecond;  // what the last digit stands for
  if (expect(text, '.')) {
    std::size_t digits = 0;
    while (digits < text.size() && ascii::isDigit(text[digits]))
      ++digits;
    if (digits < 1 || digits > 9) return std::nullopt;
    for (std::size_t i = 0; i < std::min<std::size_t>(digits, 6); ++i) {
      step /= 10;
      fraction += (text[i] - '0') * step;
    }
    if (digits > 6) step = 1;
    text.remove_prefix(digits);
  }
  if (text != "Z") return std::nullopt;
  const std::int64_t start = ((days * 24 + hour) * 60 + minute) * 60 * kMicrosPerSecond +
                             static_cast<std::int64_t>(second) * kMicrosPerSecond + fraction;
  return IsoUtcTime{.start = start, .end = start + step - 1};
}

std::optional<std::int64_t> parseSystemdTimestamp(std::string_view text) {
  text = trim(text);
  if (text.empty() || text == "n/a") return std::nullopt;
  // The weekday, when there is one, is a word before the date.
  if (!text.empty() && ascii::isUpper(text.front())) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    text = trim(text.substr(blank));
  }
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readNumber(text, 4, year) || !expect(text, '-') || !readNumber(text, 2, month) ||
      !expect(text, '-') || !readNumber(text, 2, day) || !expect(text, ' ') ||
      !readNumber(text, 2, hour) || !expect(text, ':') || !readNumber(text, 2, minute) ||
      !expect(text, ':') || !readNumber(text, 2, second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  const std::string_view zone = trim(text);
  if (zone == "UTC" || zone == "GMT" || zone == "Z") {
    const std::int64_t days = daysFromCivil(year, month, day);
    return ((days * 24 + hour) * 60 + minute) * 60 * kMicrosPerSecond +
           static_cast<std::int64_t>(second) * kMicrosPerSecond;
  }
  return localToUtc(year, month, day, hour, minute, second, zone);
}

}  // namespace relaydash
