#include "gateway/plan_layout.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "gateway/band_check.hpp"
#include "gateway/config_rules.hpp"
#include "gateway/config_text_edit.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/plan_recognition.hpp"
#include "json/parser.hpp"
#include "json/text_spans.hpp"
#include "json/writer.hpp"
#include "support/read_file.hpp"

namespace relaydash {

// How a failing comparison shows a problem (config_rules_test.cpp).
void PrintTo(const ConfigProblem& p, std::ostream* out);

namespace {

std::string sample(const std::string& name) {
  return readFile("tests/data/forwarder/" + name + ".global_conf.json");
}

const char* const kEuSx1302 = "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0";
const char* const kUsSx1302 = "sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0";
const char* const kEuSx1301 = "sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1";
const char* const kUsSx1301 = "sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic";
const char* const kKersing = "sx1301-eu868-kersing-mp_pkt_fwd-multiserver";
const char* const kBasic = "sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict";

// A sample with both radios' type replaced.
JsonNodePtr withRadioType(const std::string& name, const std::string& type) {
  const JsonNodePtr doc = parseJson(sample(name));
  const std::string section = doc->hasKey("SX130x_conf") ? "SX130x_conf" : "SX1301_conf";
  return merge(*doc, *parseJson(R"({")" + section + R"(":{"radio_0":{"type":")" + type +
                                R"("},"radio_1":{"type":")" + type + R"("}}})"));
}

bool sub400MHz(const FrequencyPlan& plan) {
  return plan.channels.front().freqHz < 600'000'000;
}

// For each layout and radio: the file a plan makes passes the forwarder's rules, is recognised as
// that plan, stays in its band, and asking for the plan again changes nothing.
TEST(PlanLayout, EveryPlanMakesAFileTheForwarderTakesAndThatIsRecognisedAsIt) {
  struct Base {
    const char* what;
    JsonNodePtr document;
    bool (*takes)(const FrequencyPlan&);
  };
  const std::vector<Base> bases = {
      {"SX130x_conf with SX1250 radios", parseJson(sample(kEuSx1302)),
       [](const FrequencyPlan&) { return true; }},
      {"SX1301_conf with SX1257 radios", parseJson(sample(kEuSx1301)),
       [](const FrequencyPlan& p) { return !sub400MHz(p); }},
      {"SX1301_conf with SX1255 radios", withRadioType(kEuSx1301, "SX1255"), sub400MHz},
      {"SX1301_conf from a US file", parseJson(sample(kUsSx1301)),
       [](const FrequencyPlan& p) { return !sub400MHz(p); }},
  };
  for (const Base& base : bases) {
    int laidOut = 0;
    for (const FrequencyPlan& plan : frequencyPlans()) {
      if (!base.takes(plan)) continue;
      SCOPED_TRACE(std::string(base.what) + ": " + plan.name);
      JsonNodePtr patch;
      ASSERT_NO_THROW(patch = planPatch(*base.document, plan));
      const JsonNodePtr changed = merge(*base.document, *patch);
      EXPECT_EQ(checkForwarderConfig(*changed), std::vector<ConfigProblem>{}) << toCompact(*patch);
      const PlanRecognition recognised = recognisePlan(*changed);
      EXPECT_TRUE(recognised.exact) << ::testing::PrintToString(recognised.differences);
      EXPECT_EQ(recognised.plan, &plan);
      EXPECT_EQ(checkBand(*changed), std::vector<ConfigProblem>{});
      EXPECT_EQ(toCompact(*planPatch(*changed, plan)), "{}");
      ++laidOut;
    }
    EXPECT_GT(laidOut, 0) << base.what;
  }
}

// Where the vendors' files already are what the plan asks, nothing changes; the SX1301 US file
// lets its radio transmit over the whole band, where the plan keeps it to the downstream channels.
TEST(PlanLayout, AVendorFileAskedForItsOwnPlanStaysAsItIs) {
  struct Case {
    const char* file;
    const char* region;
    int subBand;
    const char* patch;
  };
  for (const Case& c : {
           Case{kEuSx1301, "EU868", 0, "{}"},
           Case{kKersing, "EU868", 0, "{}"},
           Case{kEuSx1302, "EU868", 0, "{}"},
           Case{kUsSx1302, "US915", 2, "{}"},
           Case{kUsSx1301, "US915", 1, R"({"SX1301_conf":{"radio_0":{"tx_freq_min":923000000}}})"},
       }) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(
        toCompact(*planPatch(*parseJson(sample(c.file)), *findFrequencyPlan(c.region, c.subBand))),
        c.patch);
  }
}

TEST(PlanLayout, AnotherPlanMovesTheRadiosAndChannelsAndTurnsOffTheRest) {
  const JsonNodePtr doc = parseJson(sample(kEuSx1301));
  EXPECT_EQ(toCompact(*planPatch(*doc, *findFrequencyPlan("RU864", 0))),
            R"({"SX1301_conf":{"radio_0":{"freq":864500000,"tx_freq_min":864000000},)"
            R"("radio_1":{"freq":869000000},)"
            R"("chan_multiSF_0":{"if":-100000},"chan_multiSF_1":{"if":100000},)"
            R"("chan_multiSF_2":{"radio":0,"if":-400000},"chan_multiSF_3":{"if":-200000},)"
            R"("chan_multiSF_4":{"if":0},"chan_multiSF_5":{"if":200000},)"
            R"("chan_multiSF_6":{"if":400000},"chan_multiSF_7":{"enable":false},)"
            R"("chan_Lora_std":{"enable":false},"chan_FSK":{"enable":false}}})");
}

// The edit keeps every byte of the vendor's file but the values the patch names: each sample,
// every plan it takes, compared with the file whose changed values alone are spliced in.
TEST(PlanLayout, TheFilesTextChangesOnlyInTheValuesThePatchNames) {
  for (const char* name : {kEuSx1301, kUsSx1301, kKersing, kEuSx1302, kUsSx1302}) {
    const std::string text = sample(name);
    const JsonNodePtr doc = parseJson(text);
    const std::optional<JsonSpan> spans = scanJsonSpans(text);
    ASSERT_TRUE(spans);
    int edited = 0;
    for (const FrequencyPlan& plan : frequencyPlans()) {
      if (sub400MHz(plan)) continue;
      SCOPED_TRACE(std::string(name) + ": " + plan.name);
      const JsonNodePtr patch = planPatch(*doc, plan);
      // The spliced text: each changed value's bytes replaced, from the last to the first.
      std::vector<std::pair<const JsonSpan*, std::string>> replaced;
      for (const JsonMember& section : patch->object()) {
        const JsonSpan& sectionSpan = spans->find(section.key)->value;
        for (const JsonMember& object : section.value->object()) {
          const JsonSpanMember* objectSpan = sectionSpan.find(object.key);
          ASSERT_NE(objectSpan, nullptr) << object.key;
          for (const JsonMember& member : object.value->object()) {
            const JsonSpanMember* valueSpan = objectSpan->value.find(member.key);
            ASSERT_NE(valueSpan, nullptr) << object.key << "." << member.key;
            replaced.emplace_back(&valueSpan->value, toCompact(*member.value));
          }
        }
      }
      std::sort(replaced.begin(), replaced.end(),
                [](const auto& a, const auto& b) { return a.first->begin > b.first->begin; });
      std::string expected = text;
      for (const auto& [span, value] : replaced)
        expected.replace(span->begin, span->end - span->begin, value);
      const JsonNodePtr changed = merge(*doc, *patch);
      const std::optional<std::string> written = editJsonText(text, *doc, *changed);
      ASSERT_TRUE(written);
      EXPECT_EQ(*written, expected);
      ++edited;
    }
    // Every plan above 470 MHz.
    EXPECT_EQ(edited, 24) << name;
  }
}

TEST(PlanLayout, RadiosThatCannotReceiveThePlanAreRefusedWithTheReason) {
  struct Case {
    const char* what;
    JsonNodePtr document;
    const char* region;
    int subBand;
    const char* reason;
  };
  for (const Case& c : {
           Case{"SX1255 radios on an SX1301 asked for 900 MHz", withRadioType(kUsSx1301, "SX1255"),
                "US915", 1,
                "US915 sub-band 1 needs 902.3 to 903.7 MHz, beyond what the radios tune: radio_0 "
                "is an SX1255, which tunes 400 to 510 MHz; radio_1 is an SX1255, which tunes 400 "
                "to 510 MHz"},
           Case{"SX1255 radios on an SX1302", withRadioType(kEuSx1302, "SX1255"), "EU868", 0,
                "EU868 needs 867.1 to 868.8 MHz, beyond what the radios tune: radio_0 is an "
                "SX1255, which tunes 400 to 510 MHz; radio_1 is an SX1255, which tunes 400 to "
                "510 MHz"},
           Case{"SX1257 radios asked for CN470", parseJson(sample(kEuSx1301)), "CN470", 3,
                "CN470 sub-band 3 needs 473.5 to 474.9 MHz, beyond what the radios tune: radio_0 "
                "is an SX1257, which tunes 862 to 1020 MHz; radio_1 is an SX1257, which tunes "
                "862 to 1020 MHz"},
           Case{"one radio, and an untyped one", parseJson(sample(kBasic)), "EU868", 0,
                "EU868's channels, 867.1 to 868.8 MHz, do not fit radio_0 alone of an SX1301 "
                "concentrator, where a radio receives a 125 kHz channel up to 400 kHz either side "
                "of its centre"},
           Case{"a radio the concentrator does not take", withRadioType(kEuSx1301, "SX1250"),
                "EU868", 0,
                "radio_0 is of type \"SX1250\", which an SX1301 concentrator does not take"},
           Case{"no radio enabled",
                merge(*parseJson(sample(kEuSx1302)),
                      *parseJson(R"({"SX130x_conf":{"radio_0":{"enable":false},)"
                                 R"("radio_1":{"enable":false}}})")),
                "EU868", 0, "no radio of SX130x_conf is enabled"},
           Case{"no concentrator", parseJson(R"({"gateway_conf":{}})"), "EU868", 0,
                "the file has neither SX1301_conf nor SX130x_conf"},
       }) {
    SCOPED_TRACE(c.what);
    try {
      planPatch(*c.document, *findFrequencyPlan(c.region, c.subBand));
      ADD_FAILURE() << "not refused";
    } catch (const PlanRefused& e) {
      EXPECT_EQ(std::string(e.what()), c.reason);
    }
  }
}

// With one radio of an SX1302 (whose radio takes a wider band) a plan that fits is laid out on it
// alone, and the disabled radio is left as it is.
TEST(PlanLayout, ASingleRadioTakesAPlanThatFitsIt) {
  const JsonNodePtr doc = merge(*parseJson(sample(kUsSx1302)),
                                *parseJson(R"({"SX130x_conf":{"radio_1":{"enable":false}}})"));
  const JsonNodePtr patch = planPatch(*doc, *findFrequencyPlan("US915", 3));
  EXPECT_FALSE(patch->at("SX130x_conf")->hasKey("radio_1"));
  const JsonNodePtr changed = merge(*doc, *patch);
  EXPECT_EQ(checkForwarderConfig(*changed), std::vector<ConfigProblem>{});
  EXPECT_EQ(recognisePlan(*changed).plan, findFrequencyPlan("US915", 3));
  EXPECT_TRUE(recognisePlan(*changed).exact);
  // Eight channels over 1.4 MHz and one 500 kHz wide do not fit one SX1301 radio.
  EXPECT_THROW(planPatch(*merge(*parseJson(sample(kUsSx1301)),
                                *parseJson(R"({"SX1301_conf":{"radio_1":{"enable":false}}})")),
                         *findFrequencyPlan("US915", 3)),
               PlanRefused);
}

}  // namespace
}  // namespace relaydash
