#include "json/writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "json/parser.hpp"

namespace relaydash {
namespace {

TEST(JsonWriter, FloatTexts) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {5.0, "5.0"},
      {1e21, "1e+21"},
      {1e-7, "1e-07"},
      {867.5, "867.5"},
      {-166.0, "-166.0"},
      {2162.56, "2162.56"},
      {0.1, "0.1"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0 / 3, "0.3333333333333333"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {123456789012345678.0, "1.234567890123457e+17"},
      {5e-324, "4.940656458412465e-324"},
      {std::numeric_limits<double>::max(), "1.797693134862316e+308"},
      // Every answer stays JSON.
      {std::nan(""), "null"},
      {-std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toCompact(*newJFloat(c.value)), c.text) << c.value;
    EXPECT_EQ(toPretty(*newJFloat(c.value)), c.text) << c.value;
  }
}

TEST(JsonWriter, FloatsMatchPrintfOverManyValues) {
  std::mt19937_64 random(20240607);
  std::uniform_real_distribution<double> exponent(-30, 30);
  for (int i = 0; i < 100'000; ++i) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (i % 2) value = std::pow(10.0, exponent(random)) * (i % 4 == 1 ? 1 : -1);
    if (!std::isfinite(value)) continue;
    char expected[40];
    std::snprintf(expected, sizeof expected, "%.16g", value);
    std::string text = toCompact(*newJFloat(value));
    std::string suffix = std::strpbrk(expected, ".e") ? "" : ".0";
    ASSERT_EQ(text, expected + suffix);
  }
}

TEST(JsonWriter, StringEscapesByteByByte) {
  struct Case {
    std::string bytes;
    std::string written;
  };
  const Case cases[] = {
      {"\t\x01", R"("\t\u0001")"},
      {"a/b", R"("a/b")"},
      {"\x1f", R"("\u001F")"},
      {"\x0b\x0e", R"("\u000b\u000E")"},
      {"\b\f\n\r", R"("\b\f\n\r")"},
      {"\"\\", R"("\"\\")"},
      {std::string(1, '\0'), R"("\u0000")"},
      {"\x7f\xc3\xa9\xff", "\"\x7f\xc3\xa9\xff\""},
      {"'", R"("'")"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toCompact(*newJString(c.bytes)), c.written);
  }
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte)
    everyByte += static_cast<char>(byte);
  EXPECT_EQ(parseJson(toCompact(*newJString(everyByte)))->getString(), everyByte);
}

TEST(JsonWriter, PrettyLayout) {
  struct Case {
    const char* json;
    const char* pretty;
  };
  const Case cases[] = {
      {"{}", "{}"},
      {"[]", "[]"},
      {R"("s")", R"("s")"},
      {R"({"a":1})", "{\n  \"a\": 1\n}"},
      {"[1,2]", "[\n  1,\n  2\n]"},
      {R"({"a":{},"b":[],"c":{"d":[1,{"e":null}]}})",
       "{\n"
       "  \"a\": {},\n"
       "  \"b\": [],\n"
       "  \"c\": {\n"
       "    \"d\": [\n"
       "      1,\n"
       "      {\n"
       "        \"e\": null\n"
       "      }\n"
       "    ]\n"
       "  }\n"
       "}"},
      {"[[],{},[[]]]", "[\n  [],\n  {},\n  [\n    []\n  ]\n]"},
  };
  for (const Case& c : cases) {
    JsonNodePtr value = parseJson(c.json);
    EXPECT_EQ(toPretty(*value), c.pretty);
    EXPECT_EQ(toCompact(*parseJson(toPretty(*value))), c.json);
  }
  EXPECT_EQ(toPretty(*parseJson(R"({"a":[1]})"), 4), "{\n    \"a\": [\n        1\n    ]\n}");
}

TEST(JsonWriter, AppendsToTheCallersBuffer) {
  std::string buffer = "HTTP/1.1 200 OK\r\n\r\n";
  writeCompact(buffer, *parseJson(R"({"output":{}})"));
  EXPECT_EQ(buffer, "HTTP/1.1 200 OK\r\n\r\n{\"output\":{}}");
  buffer.clear();
  writePretty(buffer, *parseJson("[true]"));
  EXPECT_EQ(buffer, "[\n  true\n]");
}

}  // namespace
}  // namespace relaydash
