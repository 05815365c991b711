#include "gateway/time_text.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>

namespace relaydash {
namespace {

constexpr std::int64_t kSecond = 1'000'000;

TEST(TimeText, IsoFormInUtc) {
  const struct {
    std::int64_t microseconds;
    bool millis;
    const char* text;
  } rows[] = {
      {0, false, "1970-01-01T00:00:00Z"},
      {1'796'778'131 * kSecond + 456'789, false, "2026-12-09T01:02:11Z"},
      {1'796'778'131 * kSecond + 456'789, true, "2026-12-09T01:02:11.456Z"},
      {951'782'400 * kSecond, false, "2000-02-29T00:00:00Z"},    // a leap day of a leap century
      {4'107'542'400 * kSecond, false, "2100-03-01T00:00:00Z"},  // past 2038, in 64 bits
      {-1, true, "1969-12-31T23:59:59.999Z"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(formatIsoUtc(row.microseconds, row.millis), row.text) << row.microseconds;
}

TEST(TimeText, CivilDaysRoundTrip) {
  for (std::int64_t days = -800'000; days <= 800'000; days += 997) {
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    ASSERT_EQ(daysFromCivil(year, month, day), days);
  }
}

TEST(TimeText, IsoTimesAndTheSpanTheirLastDigitStandsFor) {
  constexpr std::int64_t t = 1'796'778'131 * kSecond;  // 2026-12-09T01:02:11Z
  const struct {
    const char* text;
    std::int64_t start, end;
  } rows[] = {
      {"2026-12-09T01:02:11Z", t, t + kSecond - 1},
      {"2026-12-09T01:02:11.5Z", t + 500'000, t + 599'999},
      {"2026-12-09T01:02:11.456Z", t + 456'000, t + 456'999},
      {"2026-12-09T01:02:11.456789Z", t + 456'789, t + 456'789},
      {"2026-12-09T01:02:11.456789123Z", t + 456'789, t + 456'789},
      {"1970-01-01T00:00:00Z", 0, kSecond - 1},
      {"2000-02-29T23:59:59.999Z", 951'868'799 * kSecond + 999'000,
       951'868'799 * kSecond + 999'999},
  };
  for (const auto& row : rows) {
    const auto time = parseIsoUtc(row.text);
    ASSERT_TRUE(time) << row.text;
    EXPECT_EQ(time->start, row.start) << row.text;
    EXPECT_EQ(time->end, row.end) << row.text;
  }
  // What formatIsoUtc writes comes back.
  EXPECT_EQ(parseIsoUtc(formatIsoUtc(t + 456'789, true))->start, t + 456'000);
  for (const char* bad :
       {"", "2026-12-09", "2026-12-09T01:02Z", "2026-12-09T01:02:11", "2026-12-09 01:02:11Z",
        "2026-12-09T01:02:11+00:00", "2026-12-09T01:02:11z", "2026-12-09T01:02:11.Z",
        "2026-12-09T01:02:11.1234567890Z", "2026-02-29T00:00:00Z", "2026-04-31T00:00:00Z",
        "2026-12-09T24:00:00Z", "2026-12-09T01:60:00Z", "2026-12-09T01:02:60Z",
        "1969-12-31T23:59:59Z", "+026-12-09T01:02:11Z", "2026-12-09T01:02:11Z ",
        "2026-1-09T01:02:11Z"}) {
    EXPECT_FALSE(parseIsoUtc(bad)) << bad;
  }
}

TEST(TimeText, SystemdTimestamps) {
  const struct {
    const char* text;
    std::optional<std::int64_t> microseconds;
  } rows[] = {
      {"Tue 2026-12-08 10:11:12 UTC", 1'796'724'672 * kSecond},
      {"Tue 2026-12-08 10:11:12 GMT", 1'796'724'672 * kSecond},
      {"2026-12-08 10:11:12 UTC", 1'796'724'672 * kSecond},
      {"  Tue 2026-12-08 10:11:12 UTC ", 1'796'724'672 * kSecond},
      {"", std::nullopt},
      {"n/a", std::nullopt},
      {"Tue 2026-13-08 10:11:12 UTC", std::nullopt},
      {"Tue 2026-12-08T10:11:12 UTC", std::nullopt},
      {"yesterday", std::nullopt},
      {"Tue 2026-12-08 10:11", std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(parseSystemdTimestamp(row.text), row.microseconds) << row.text;
}

TEST(TimeText, OtherZonesAreTheGatewaysLocalTime) {
  const char* saved = ::getenv("TZ");
  const std::string previous = saved ? saved : "";
  // Central European time with its summer rule, spelled out so no zone database is needed.
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  EXPECT_EQ(parseSystemdTimestamp("Tue 2026-12-08 11:11:12 CET"), 1'796'724'672 * kSecond);
  EXPECT_EQ(parseSystemdTimestamp("Mon 2026-07-06 12:00:00 CEST"),
            parseSystemdTimestamp("Mon 2026-07-06 10:00:00 UTC"));
  if (saved) {
    ::setenv("TZ", previous.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
}  // namespace relaydash
