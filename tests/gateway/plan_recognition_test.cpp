#include "gateway/plan_recognition.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/forwarder_config.hpp"
#include "json/parser.hpp"
#include "support/read_file.hpp"

namespace relaydash {
namespace {

JsonNodePtr sample(const std::string& name) {
  return parseJson(readFile("tests/data/forwarder/" + name + ".global_conf.json"));
}

JsonNodePtr changed(const std::string& name, const char* patch) {
  return merge(*sample(name), *parseJson(patch));
}

using Differences = std::vector<std::string>;

TEST(PlanRecognition, TheVendorFilesImplementTheirRegionsPlans) {
  struct Case {
    const char* file;
    const char* region;
    int subBand;
  };
  for (const Case& c : {
           Case{"sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1", "EU868", 0},
           Case{"sx1301-eu868-kersing-mp_pkt_fwd-multiserver", "EU868", 0},
           Case{"sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0", "EU868", 0},
           Case{"sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0", "US915", 2},
           Case{"sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic", "US915", 1},
       }) {
    SCOPED_TRACE(c.file);
    const PlanRecognition r = recognisePlan(*sample(c.file));
    EXPECT_TRUE(r.exact);
    EXPECT_EQ(r.plan, findFrequencyPlan(c.region, c.subBand));
    EXPECT_EQ(r.differences, Differences{});
  }
}

// basic_pkt_fwd's file of 2013 has one radio: the three default channels, the 250 kHz channel
// and an FSK channel at 868.3 MHz, where today's plan has it at 868.8 MHz.
TEST(PlanRecognition, TheOldestVendorFileIsACustomPlanNearEu868) {
  const PlanRecognition r =
      recognisePlan(*sample("sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict"));
  EXPECT_FALSE(r.exact);
  EXPECT_EQ(r.plan, findFrequencyPlan("EU868", 0));
  EXPECT_EQ(r.differences,
            (Differences{"channel 868.3 MHz FSK is not in EU868", "EU868's 867.1 MHz is missing",
                         "EU868's 867.3 MHz is missing", "EU868's 867.5 MHz is missing",
                         "EU868's 867.7 MHz is missing", "EU868's 867.9 MHz is missing",
                         "EU868's 868.8 MHz FSK is missing"}));
}

// What makes a file differ from the plan nearest it, in the file's terms.
TEST(PlanRecognition, ACustomFileIsToldApartFromTheNearestPlan) {
  struct Case {
    const char* what;
    JsonNodePtr document;
    const char* region;
    int subBand;
    Differences differences;
  };
  const char* const eu = "sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1";
  const char* const us = "sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0";
  for (const Case& c : std::vector<Case>{
           {"a channel moved",
            changed(eu, R"({"SX1301_conf":{"chan_multiSF_3":{"radio":1,"if":400000}}})"),
            "EU868",
            0,
            {"channel 868.9 MHz is not in EU868", "EU868's 867.1 MHz is missing"}},
           {"a channel turned off",
            changed(eu, R"({"SX1301_conf":{"chan_FSK":{"enable":false}}})"),
            "EU868",
            0,
            {"EU868's 868.8 MHz FSK is missing"}},
           {"the same channel twice",
            changed(eu, R"({"SX1301_conf":{"chan_multiSF_4":{"if":-400000}}})"),
            "EU868",
            0,
            {"channel 867.1 MHz is there twice", "EU868's 867.3 MHz is missing"}},
           // The channels of a disabled radio are not received.
           {"a radio turned off",
            changed(us, R"({"SX130x_conf":{"radio_1":{"enable":false}}})"),
            "US915",
            2,
            {"US915 sub-band 2's 904.7 MHz is missing", "US915 sub-band 2's 904.9 MHz is missing",
             "US915 sub-band 2's 905.1 MHz is missing", "US915 sub-band 2's 905.3 MHz is missing"}},
           {"a wide channel of another width",
            changed(us, R"({"SX130x_conf":{"chan_Lora_std":{"bandwidth":250000}}})"),
            "US915",
            2,
            {"channel 904.6 MHz LoRa 250 kHz is not in US915 sub-band 2",
             "US915 sub-band 2's 904.6 MHz LoRa 500 kHz is missing"}},
           {"the next sub-band's wide channel",
            changed(us, R"({"SX130x_conf":{"chan_Lora_std":{"radio":1,"if":1200000}}})"),
            "US915",
            2,
            {"channel 906.2 MHz LoRa 500 kHz is not in US915 sub-band 2",
             "US915 sub-band 2's 904.6 MHz LoRa 500 kHz is missing"}},
       }) {
    SCOPED_TRACE(c.what);
    const PlanRecognition r = recognisePlan(*c.document);
    EXPECT_FALSE(r.exact);
    EXPECT_EQ(r.plan, findFrequencyPlan(c.region, c.subBand));
    EXPECT_EQ(r.differences, c.differences);
  }
}

TEST(PlanRecognition, AFileWithoutAConcentratorHasNoPlan) {
  const PlanRecognition r = recognisePlan(*parseJson(R"({"gateway_conf":{}})"));
  EXPECT_EQ(r.plan, nullptr);
  EXPECT_FALSE(r.exact);
}

}  // namespace
}  // namespace relaydash
