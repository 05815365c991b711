#include "gateway/forwarder_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/read_file.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kTail =
    "the forwarder ignores everything from here on: it is after the end of the document";

// relaydash's own reading of the text, or null when it cannot read it.
JsonNodePtr plainReading(const std::string& text) {
  try {
    return parseJson(text);
  } catch (const JsonParsingError&) {
    return nullptr;
  }
}

// The cases the web application is tested against too.
TEST(ForwarderReader, TheSharedCases) {
  const JsonNodePtr cases = parseJson(readFile("tests/data/forwarder-reader.json"))->at("cases");
  ASSERT_GT(cases->size(), 40u);
  for (const JsonNodePtr& c : cases->array()) {
    SCOPED_TRACE(c->at("name")->getString());
    const std::string& text = c->at("text")->getString();
    const ForwarderReading reading = readAsForwarder(text);
    EXPECT_FALSE(c->at("forwarder")->getString().empty());

    const bool reads = c->at("reads")->getBool();
    ASSERT_EQ(reading.document != nullptr, reads);
    ASSERT_EQ(reading.refusal.has_value(), !reads);
    if (JsonNodePtr document = c->get("document")) {
      EXPECT_EQ(toCompact(*reading.document), toCompact(*document));
    }
    if (JsonNodePtr refusal = c->get("refusal")) {
      EXPECT_EQ(*reading.refusal,
                (TextNote{static_cast<std::size_t>(refusal->at("line")->getInt()),
                          static_cast<std::size_t>(refusal->at("column")->getInt()),
                          refusal->at("message")->getString()}));
    }

    std::optional<TextNote> tail;
    if (JsonNodePtr t = c->get("ignoredTail")) {
      tail = TextNote{static_cast<std::size_t>(t->at("line")->getInt()),
                      static_cast<std::size_t>(t->at("column")->getInt()), std::string(kTail)};
    }
    EXPECT_EQ(reading.ignoredTail, tail);

    const JsonNodePtr quirks = c->get("quirks");
    ASSERT_EQ(reading.quirks.size(), quirks ? quirks->size() : 0u);
    for (std::size_t i = 0; i < reading.quirks.size(); ++i) {
      const JsonNode& expected = *quirks->array()[i];
      EXPECT_EQ(reading.quirks[i].line, static_cast<std::size_t>(expected.at("line")->getInt()));
      EXPECT_EQ(reading.quirks[i].column,
                static_cast<std::size_t>(expected.at("column")->getInt()));
      if (JsonNodePtr message = expected.get("message")) {
        EXPECT_EQ(reading.quirks[i].message, message->getString());
      }
    }

    if (reads) {
      const JsonNodePtr plain = plainReading(text);
      const bool differs = !plain || !differingMembers(*reading.document, *plain).empty();
      EXPECT_EQ(differs, c->get("differsFromPlainReading") != nullptr);
    }
  }
}

TEST(ForwarderReader, EveryRealFileReadsAsRelaydashReadsIt) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator("tests/data/forwarder")) {
    if (entry.path().extension() != ".json") continue;
    SCOPED_TRACE(entry.path().string());
    ++files;
    const std::string text = readFile(entry.path().string());
    const ForwarderReading reading = readAsForwarder(text);
    ASSERT_TRUE(reading.document) << reading.refusal->message;
    EXPECT_FALSE(reading.ignoredTail);
    EXPECT_TRUE(reading.quirks.empty());
    EXPECT_EQ(toCompact(*reading.document), toCompact(*parseJson(text)));
  }
  EXPECT_EQ(files, 6);
}

TEST(ForwarderReader, NumbersAreWhatRelaydashMakesOfTheLiteral) {
  const JsonNodePtr doc =
      readAsForwarder(
          R"({"i": 5, "f": 5.0, "e": 5e0, "raw": 18446744073709551616,)"
          R"( "ninf": -inf, "inf": -INFINITY, "nan": -nan(1a), "big": -9223372036854775808})")
          .document;
  ASSERT_TRUE(doc);
  EXPECT_TRUE(doc->at("i")->isInt());
  EXPECT_TRUE(doc->at("f")->isFloat());
  EXPECT_TRUE(doc->at("e")->isFloat());
  EXPECT_TRUE(doc->at("raw")->isRawNumber());
  EXPECT_EQ(doc->at("raw")->getString(), "18446744073709551616");
  EXPECT_EQ(doc->at("ninf")->getFloat(), -INFINITY);
  EXPECT_EQ(doc->at("inf")->getFloat(), -INFINITY);
  EXPECT_TRUE(doc->at("nan")->isFloat() && std::isnan(doc->at("nan")->getFloat()));
  EXPECT_EQ(doc->at("big")->getInt(), INT64_MIN);
}

TEST(ForwarderReader, ColumnsCountBytes) {
  const ForwarderReading reading = readAsForwarder("{\"\xC3\xA9\": 01}");
  ASSERT_TRUE(reading.refusal);
  EXPECT_EQ(reading.refusal->column, 8u);
}

TEST(ForwarderReader, DeepNestingIsRefusedWithoutRecursingFurther) {
  for (const std::string& open : {std::string("["), std::string("{\"a\":")}) {
    std::string text;
    for (int i = 0; i < 200000; ++i)
      text += open;
    const ForwarderReading reading = readAsForwarder(text);
    ASSERT_TRUE(reading.refusal);
    EXPECT_EQ(reading.refusal->message, "more than 19 levels of nesting");
    EXPECT_EQ(reading.refusal->column, 20 * open.size() + 1);
  }
}

TEST(ForwarderReader, AtMostFiveQuirksInTheirOrder) {
  std::string text = "{\n";
  for (int i = 0; i < 7; ++i) {
    std::string n = std::to_string(i);
    text += "  \"a" + n + "\": 1, // see /* note\n  \"b" + n + "\": 2, /* two */\n";
  }
  text += "  \"end\": 0\n}\n";
  const ForwarderReading reading = readAsForwarder(text);
  ASSERT_TRUE(reading.document);
  ASSERT_EQ(reading.quirks.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(reading.quirks[i].line, 2 + 2 * i);
    EXPECT_EQ(reading.quirks[i].column, 19u);
    EXPECT_EQ(reading.quirks[i].message,
              "the forwarder reads this \"/*\" inside a \"//\" comment as the start of a comment, "
              "which hides everything up to line " +
                  std::to_string(3 + 2 * i));
  }
  EXPECT_EQ(differingMembers(*reading.document, *parseJson(text), 3),
            (std::vector<std::string>{"b0", "b1", "b2"}));
}

TEST(ForwarderReader, DifferingMembers) {
  const JsonNodePtr a = parseJson(R"({
    "gateway_conf": {"keepalive_interval": 10, "servers": [{"port": 1}, {"port": 2}], "id": "x"},
    "SX1301_conf": {"radio_0": {"freq": 867500000, "enable": true}},
    "only_a": null
  })");
  const JsonNodePtr b = parseJson(R"({
    "SX1301_conf": {"radio_0": {"enable": true, "freq": 868500000.0}},
    "gateway_conf": {"id": "x", "servers": [{"port": 1}, {"port": 3}, {}], "keepalive_interval": 10.0},
    "only_b": false
  })");
  EXPECT_EQ(differingMembers(*a, *b),
            (std::vector<std::string>{"gateway_conf.servers[1].port", "gateway_conf.servers[2]",
                                      "SX1301_conf.radio_0.freq", "only_a", "only_b"}));
  EXPECT_EQ(differingMembers(*a, *b, 2),
            (std::vector<std::string>{"gateway_conf.servers[1].port", "gateway_conf.servers[2]"}));
  EXPECT_TRUE(differingMembers(*a, *copy(*a)).empty());

  // What the forwarder reads as the same double is the same; kinds otherwise matter.
  EXPECT_TRUE(differingMembers(*parseJson("[5, 1e20, 18446744073709551616]"),
                               *parseJson("[5.0, 100000000000000000000, 18446744073709551616.0]"))
                  .empty());
  EXPECT_EQ(differingMembers(*parseJson(R"([1, "1", true, null, {}, []])"),
                             *parseJson(R"(["1", 1, 1, false, [], {}])")),
            (std::vector<std::string>{"[0]", "[1]", "[2]", "[3]", "[4]", "[5]"}));
  EXPECT_EQ(differingMembers(*parseJson("{}"), *parseJson("[]")), std::vector<std::string>{""});
  const JsonNodePtr nan = readAsForwarder("[-nan]").document;
  EXPECT_TRUE(differingMembers(*nan, *readAsForwarder("[-NAN]").document).empty());
}

}  // namespace
}  // namespace relaydash
