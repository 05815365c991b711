#include "gateway/config_text_edit.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "gateway/forwarder_config.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/read_file.hpp"

namespace relaydash {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

// The lines a line diff shows: removed from a (with "-") and added in b (with "+"), from a
// longest common subsequence.
std::vector<std::string> lineDiff(const std::string& a, const std::string& b) {
  const std::vector<std::string> x = lines(a), y = lines(b);
  std::vector<std::vector<int>> common(x.size() + 1, std::vector<int>(y.size() + 1));
  for (std::size_t i = x.size(); i-- > 0;) {
    for (std::size_t j = y.size(); j-- > 0;) {
      common[i][j] =
          x[i] == y[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    }
  }
  std::vector<std::string> diff;
  std::size_t i = 0, j = 0;
  while (i < x.size() || j < y.size()) {
    if (i < x.size() && j < y.size() && x[i] == y[j]) {
      ++i, ++j;
    } else if (j < y.size() && (i == x.size() || common[i][j + 1] >= common[i + 1][j])) {
      diff.push_back("+" + y[j++]);
    } else {
      diff.push_back("-" + x[i++]);
    }
  }
  return diff;
}

// Edits text with a patch the way forwarder-config/apply does.
std::optional<std::string> editWithPatch(const std::string& text, const std::string& patch) {
  const JsonNodePtr before = parseJson(text);
  const JsonNodePtr after = merge(*before, *parseJson(patch));
  return editJsonText(text, *before, *after);
}

std::string trimmed(std::string line) {
  line.erase(0, line.find_first_not_of(" \t"));
  return line;
}

const char* const kSamples[] = {
    "sx1301-eu868-kersing-mp_pkt_fwd-multiserver",
    "sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict",
    "sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1",
    "sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic",
    "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0",
    "sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0",
};

// What an operator changes most: the network server, a port, a radio's frequency, and a member
// the file did not have. A diff against the vendor's file shows those lines and nothing else.
TEST(EditJsonText, VendorFilesShowOnlyTheChangedValuesInADiff) {
  for (const char* name : kSamples) {
    SCOPED_TRACE(name);
    const std::string text =
        readFile(std::string("tests/data/forwarder/") + name + ".global_conf.json");
    const JsonNodePtr doc = parseJson(text);
    const std::string layout = doc->hasKey("SX130x_conf") ? "SX130x_conf" : "SX1301_conf";
    const std::int64_t freq = doc->at(layout)->at("radio_0")->at("freq")->getInt();
    const std::string patch = R"({"gateway_conf":{"server_address":"eu1.example.net",)"
                              R"("serv_port_up":1799,"relaydash_note":"set up by relaydash"},")" +
                              layout + R"(":{"radio_0":{"freq":)" + std::to_string(freq + 200000) +
                              "}}}";
    const std::optional<std::string> edited = editWithPatch(text, patch);
    ASSERT_TRUE(edited);

    std::vector<std::string> removed, added;
    for (const std::string& line : lineDiff(text, *edited))
      (line[0] == '-' ? removed : added).push_back(trimmed(line.substr(1)));
    // Three values changed in place, and the member before the new one gained its comma.
    ASSERT_EQ(removed.size(), 4u) << ::testing::PrintToString(lineDiff(text, *edited));
    ASSERT_EQ(added.size(), 5u);
    EXPECT_NE(added[0].find("\"freq\": " + std::to_string(freq + 200000)), std::string::npos);
    bool note = false;
    for (const std::string& line : added)
      note = note || line == R"("relaydash_note": "set up by relaydash")";
    EXPECT_TRUE(note) << ::testing::PrintToString(added);
    // The indentation of the new member is its neighbours'.
    const std::vector<std::string> after = lines(*edited);
    for (std::size_t i = 1; i < after.size(); ++i) {
      if (after[i].find("relaydash_note") == std::string::npos) continue;
      EXPECT_EQ(after[i].substr(0, after[i].find('"')),
                after[i - 1].substr(0, after[i - 1].find('"')));
    }
  }
}

TEST(EditJsonText, SmallTextsEditedInPlace) {
  const struct {
    const char* why;
    const char* text;
    const char* patch;
    const char* edited;
  } rows[] = {
      {"a value between comments", "{\n  /* a */ \"a\": 1, // one\n  \"b\": 2\n}", R"({"a":10})",
       "{\n  /* a */ \"a\": 10, // one\n  \"b\": 2\n}"},
      {"nothing changes", "{\"a\" :  1 }", R"({"a":1})", "{\"a\" :  1 }"},
      {"a member added on one line", R"({"enable": true, "if": -400000})", R"({"radio":1})",
       R"({"enable": true, "if": -400000, "radio": 1})"},
      {"after a comment that ends the last member's line", "{\n    \"a\": 1 /* one */\n}\n",
       R"({"b":"x"})", "{\n    \"a\": 1, /* one */\n    \"b\": \"x\"\n}\n"},
      {"a trailing comma stays the last member's", "{\n\t\"a\": 1,\n}", R"({"b":2})",
       "{\n\t\"a\": 1,\n\t\"b\": 2\n}"},
      {"line ends of Windows", "{\r\n  \"a\": 1\r\n}\r\n", R"({"b":2})",
       "{\r\n  \"a\": 1,\r\n  \"b\": 2\r\n}\r\n"},
      {"an object added in the file's indentation", "{\n    \"a\": {\n        \"x\": 1\n    }\n}",
       R"({"a":{"y":{"p":1,"q":[1,2]}}})",
       "{\n    \"a\": {\n        \"x\": 1,\n        \"y\": {\n            \"p\": 1,\n"
       "            \"q\": [1, 2]\n        }\n    }\n}"},
      {"an empty object filled", "{\n  \"a\": {},\n  \"b\": 1\n}", R"({"a":{"x":1}})",
       "{\n  \"a\": {\n    \"x\": 1\n  },\n  \"b\": 1\n}"},
      {"a longer array of one-line objects, one a line",
       "{\n  \"lut\": [\n    {\"p\": 1, \"g\": 0}\n  ]\n}",
       R"({"lut":[{"p":1,"g":0},{"p":2,"g":1}]})",
       "{\n  \"lut\": [\n    {\"p\": 1, \"g\": 0},\n    {\"p\": 2, \"g\": 1}\n  ]\n}"},
      {"an array of the same length, element by element", "[1, /* two */ 2, 3]", "[1, 5, 3]",
       "[1, /* two */ 5, 3]"},
      {"a padded one-line array", R"({"sf": [ 7, 8 ]})", R"({"sf":[7,8,9]})",
       R"({"sf": [ 7, 8, 9 ]})"},
      {"of repeated keys, the one the parser keeps", R"({"a": 1, "a": 2})", R"({"a":3})",
       R"({"a": 1, "a": 3})"},
      {"a scalar becomes an object", "{\n  \"a\": 1\n}", R"({"a":{"x":true}})",
       "{\n  \"a\": {\n    \"x\": true\n  }\n}"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const std::optional<std::string> edited = editWithPatch(row.text, row.patch);
    ASSERT_TRUE(edited);
    EXPECT_EQ(*edited, row.edited);
  }
}

TEST(EditJsonText, AnObjectThatLosesAMemberInAnArrayIsWrittenAnew) {
  const std::string text = "[\n  {\"a\": 1, /* x */ \"b\": 2}\n]";
  const JsonNodePtr before = parseJson(text);
  const std::optional<std::string> edited = editJsonText(text, *before, *parseJson(R"([{"a":1}])"));
  ASSERT_TRUE(edited);
  EXPECT_EQ(*edited, "[\n  {\"a\": 1}\n]");
}

TEST(EditJsonText, WhatDoesNotReadBackIsRefused) {
  // An infinity is written as null, which reads back as another document.
  const std::string text = R"({"a": 1})";
  const JsonNodePtr before = parseJson(text);
  const JsonNodePtr after = parseJson(R"({"a": 1})");
  after->set("a", newJFloat(std::numeric_limits<double>::infinity()));
  EXPECT_EQ(editJsonText(text, *before, *after), std::nullopt);
  // A text the scanner cannot follow.
  EXPECT_EQ(editJsonText("{\"a\": 1 /* open", *before, *parseJson(R"({"a":2})")), std::nullopt);
}

TEST(SameDocument, MemberOrderAsideEverythingCounts) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } rows[] = {
      {R"({"a":1,"b":[1,{"c":2}]})", R"({"b":[1,{"c":2}],"a":1})", true},
      {R"({"a":1})", R"({"a":1.0})", false},
      {"[1,2]", "[2,1]", false},
      {R"({"a":1})", R"({"a":1,"b":null})", false},
      {R"({"a":"1"})", R"({"a":1})", false},
      {"123456789012345678901234567890", "123456789012345678901234567890", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
    EXPECT_EQ(sameDocument(*parseJson(row.a), *parseJson(row.b)), row.same);
  }
}

}  // namespace
}  // namespace relaydash
