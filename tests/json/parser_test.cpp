#include "json/parser.hpp"

#include <gtest/gtest.h>

#include <string>

#include "json/limits.hpp"
#include "json/writer.hpp"

namespace relaydash {
namespace {

TEST(JsonParser, AcceptedTextsAndWhatTheyRead) {
  struct Case {
    std::string text;
    JsonKind kind;
    std::string compact;
  };
  const std::string wide = "12345678901234567890123";  // 23 digits
  const Case cases[] = {
      // Literals and white space.
      {"true", JsonKind::Bool, "true"},
      {"false", JsonKind::Bool, "false"},
      {" \t\r\n null \n", JsonKind::Null, "null"},
      // Integers, and the raw numbers beyond 64 bits.
      {"125", JsonKind::Int, "125"},
      {"-0", JsonKind::Int, "0"},
      {"007", JsonKind::Int, "7"},
      {"9223372036854775807", JsonKind::Int, "9223372036854775807"},
      {"-9223372036854775808", JsonKind::Int, "-9223372036854775808"},
      {"9223372036854775808", JsonKind::String, "9223372036854775808"},
      {wide, JsonKind::String, wide},
      {"-" + wide, JsonKind::String, "-" + wide},
      // Floats: a ".", "e" or "E" makes one; a leading point reads as "0.".
      {"125.0", JsonKind::Float, "125.0"},
      {".5", JsonKind::Float, "0.5"},
      {"-.5", JsonKind::Float, "-0.5"},
      {"1E3", JsonKind::Float, "1000.0"},
      {"1e+3", JsonKind::Float, "1000.0"},
      {"2.5e-3", JsonKind::Float, "0.0025"},
      {"1e-999", JsonKind::Float, "0.0"},
      {"-0.0e-999", JsonKind::Float, "-0.0"},
      // Comments, trailing commas, repeated keys.
      {"// comment\n{\"a\":1}", JsonKind::Object, R"({"a":1})"},
      {"/* a */[/* b */1/**/,\n2 // c\n]/* end */", JsonKind::Array, "[1,2]"},
      {"[1]//", JsonKind::Array, "[1]"},
      {"[1,2,]", JsonKind::Array, "[1,2]"},
      {R"({"a":1,})", JsonKind::Object, R"({"a":1})"},
      {R"({"a":1,"a":2})", JsonKind::Object, R"({"a":2})"},
      {R"({"a":1,"b":2,"a":[3]})", JsonKind::Object, R"({"a":[3],"b":2})"},
      {R"({ "a" : { } , "b" : [ ] })", JsonKind::Object, R"({"a":{},"b":[]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JsonNodePtr value = parseJson(c.text);
    EXPECT_EQ(value->kind(), c.kind);
    EXPECT_EQ(value->isRawNumber(), c.kind == JsonKind::String);
    EXPECT_EQ(toCompact(*value), c.compact);
  }
}

TEST(JsonParser, StringEscapes) {
  struct Case {
    std::string text;
    std::string bytes;
  };
  const Case cases[] = {
      {R"("\"\\\/\'")", "\"\\/'"},
      {R"("\b\f\n\r\t\v")", "\b\f\n\r\t\v"},
      {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
      {R"("\u0000")", std::string(1, '\0')},
      {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      // A high surrogate without its low half gives nothing; a lone low half is encoded.
      {R"("\uD83Dx")", "x"},
      {R"("\uD83D\u0041")", "A"},
      {R"("\uD83D\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      {R"("\uDE00")", "\xED\xB8\x80"},
      // Unknown and malformed escapes stay as they are written.
      {R"("\q\%\U0041")", "\\q\\%\\U0041"},
      {R"("\u12")", "\\u12"},
      {R"("\uZZZZ")", "\\uZZZZ"},
      // Control characters and bytes above 127 are kept as they are.
      {"\"a\nb\x01\xff\"", "a\nb\x01\xff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseJson(c.text)->getString(), c.bytes);
  }
}

TEST(JsonParser, ErrorMessagesNameTheExpectedItemAndItsPosition) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"", "input(1, 0) Error: { expected"},
      {"NaN", "input(1, 0) Error: { expected"},
      {"True", "input(1, 0) Error: { expected"},
      {"'single'", "input(1, 0) Error: { expected"},
      {"  /* never closed", "input(1, 2) Error: { expected"},
      {"/ 1", "input(1, 0) Error: { expected"},
      {"\"open", "input(1, 0) Error: { expected"},
      {"[\"a\\", "input(1, 1) Error: { expected"},
      {"[1.]", "input(1, 1) Error: { expected"},
      {"-", "input(1, 0) Error: { expected"},
      {"1e", "input(1, 0) Error: { expected"},
      {"[}", "input(1, 1) Error: { expected"},
      {"[1,,2]", "input(1, 3) Error: { expected"},
      {R"({"a":})", "input(1, 5) Error: { expected"},
      // No double holds these; one too small for it reads as zero above.
      {"[1, 1e999]", "input(1, 4) Error: number within a double's range expected"},
      {"-1.5E+400", "input(1, 0) Error: number within a double's range expected"},
      {"\n 99999999999999999999999999999999999999999999999999e300",
       "input(2, 1) Error: number within a double's range expected"},
      {":", "input(1, 0) Error: { expected"},
      {"{\n  \"a\": tru\n}", "input(2, 7) Error: { expected"},
      {"\r\n[x]", "input(2, 1) Error: { expected"},
      {"{1:2}", "input(1, 1) Error: string literal as key expected"},
      {"{,", "input(1, 1) Error: string literal as key expected"},
      {R"({"a":1,,})", "input(1, 7) Error: string literal as key expected"},
      {R"({"a" 1})", "input(1, 5) Error: : expected"},
      {R"({"a"})", "input(1, 4) Error: : expected"},
      {R"({"a":1 "b":2})", "input(1, 7) Error: } expected"},
      {R"({"a":1 /* open)", "input(1, 7) Error: } expected"},
      {R"({"a":1)", "input(1, 6) Error: } expected"},
      {"[1 2]", "input(1, 3) Error: ] expected"},
      {"[1", "input(1, 2) Error: ] expected"},
      {R"({"a":1} x)", "input(1, 8) Error: EOF expected"},
      {"[1] // c\n x", "input(2, 1) Error: EOF expected"},
      {"1 2", "input(1, 2) Error: EOF expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      parseJson(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const JsonParsingError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

TEST(JsonParser, RefusesNestingBeyondTheLimit) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i)
      text += i % 2 ? "[" : "{\"k\":";
    text += "0";
    for (int i = depth - 1; i >= 0; --i)
      text += i % 2 ? "]" : "}";
    return text;
  };
  std::string deepest = nested(kMaxJsonDepth);
  EXPECT_EQ(toCompact(*parseJson(deepest)), deepest);
  EXPECT_THROW(parseJson(nested(kMaxJsonDepth + 1)), JsonParsingError);
  std::string brackets(100'000, '[');
  try {
    parseJson(brackets);
    FAIL() << "accepted";
  } catch (const JsonParsingError& error) {
    EXPECT_EQ(error.what(), "input(1, " + std::to_string(kMaxJsonDepth) +
                                ") Error: nesting depth of at most " +
                                std::to_string(kMaxJsonDepth) + " expected");
  }
}

TEST(JsonParser, EveryPrefixParsesOrFailsCleanly) {
  const std::string text =
      "// head\n{\"a\": [1, -2.5e3, .5, true, null, \"s\\u00e9\\n\"], /* c */ \"b\": {\"c\": "
      "123456789012345678901234,},}";
  for (std::size_t size = 0; size < text.size(); ++size) {
    std::string prefix = text.substr(0, size);  // its own allocation, so ASan sees overreads
    try {
      parseJson(prefix);
    } catch (const JsonParsingError&) {
    }
  }
  EXPECT_EQ(toCompact(*parseJson(text)), R"({"a":[1,-2500.0,0.5,true,null,"s)"
                                         "\xC3\xA9"
                                         R"(\n"],"b":{"c":123456789012345678901234}})");
}

}  // namespace
}  // namespace relaydash
