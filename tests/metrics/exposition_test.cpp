#include "metrics/exposition.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace relaydash {
namespace {

TEST(Exposition, FamiliesAndSamplesAsPrometheusReadsThem) {
  std::string out = "left from the last scrape";
  out.clear();
  ExpositionWriter w(out);
  w.family("relaydash_up", "Whether it runs.\nSecond line, a \\ and \"quotes\".", "gauge");
  w.sample("relaydash_up", std::int64_t{1});
  w.family("relaydash_things_total", "Things.", "counter");
  w.sample("relaydash_things_total", {{"kind", "a\"b\\c\nd"}, {"empty", ""}}, std::int64_t{-3});
  w.sample("relaydash_things_total", {{"kind", "é"}}, 0.5);
  EXPECT_EQ(out,
            "# HELP relaydash_up Whether it runs.\\nSecond line, a \\\\ and \"quotes\".\n"
            "# TYPE relaydash_up gauge\n"
            "relaydash_up 1\n"
            "# HELP relaydash_things_total Things.\n"
            "# TYPE relaydash_things_total counter\n"
            "relaydash_things_total{kind=\"a\\\"b\\\\c\\nd\",empty=\"\"} -3\n"
            "relaydash_things_total{kind=\"é\"} 0.5\n");
}

TEST(Exposition, ValuesAreWrittenExactlyAndSpecialsByTheirNames) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1e6, "1000000"},
      {1765000000.0, "1765000000"},
      {9007199254740991.0, "9007199254740991"},  // 2^53 - 1: still whole
      {9007199254740992.0, "9007199254740992"},  // from 2^53 the shortest form
      {1e300, "1e+300"},
      {0.1, "0.1"},
      {1765000000.123456, "1765000000.123456"},
      {-2.5, "-2.5"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "+Inf"},
      {-std::numeric_limits<double>::infinity(), "-Inf"},
  };
  for (const Case& c : cases) {
    std::string out;
    appendSampleValue(out, c.value);
    EXPECT_EQ(out, c.text) << c.text;
    if (!std::isnan(c.value)) {
      EXPECT_EQ(std::stod(out == "+Inf" ? "inf" : out == "-Inf" ? "-inf" : out), c.value) << out;
    }
  }
  std::string whole;
  ExpositionWriter(whole).sample("n", std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(whole, "n 9223372036854775807\n");
}

TEST(Exposition, HelpTextKeepsQuotesLabelValuesEscapeThem) {
  std::string help;
  appendEscaped(help, "say \"hi\"\\\n", false);
  EXPECT_EQ(help, "say \"hi\"\\\\\\n");
  std::string label;
  appendEscaped(label, "say \"hi\"\\\n", true);
  EXPECT_EQ(label, "say \\\"hi\\\"\\\\\\n");
}

}  // namespace
}  // namespace relaydash
