#include "gateway/band_check.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/forwarder_config.hpp"
#include "json/parser.hpp"
#include "support/read_file.hpp"

namespace relaydash {

// How a failing comparison shows a problem (config_rules_test.cpp).
void PrintTo(const ConfigProblem& p, std::ostream* out);

namespace {

using Problems = std::vector<ConfigProblem>;

JsonNodePtr sample(const std::string& name) {
  return parseJson(readFile("tests/data/forwarder/" + name + ".global_conf.json"));
}

const char* const kEu = "sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1";

TEST(BandCheck, TheVendorFilesStayInTheirBands) {
  for (const char* name : {"sx1301-eu868-kersing-mp_pkt_fwd-multiserver", kEu,
                           "sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict",
                           "sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic",
                           "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0",
                           "sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(checkBand(*sample(name)), Problems{});
  }
}

TEST(BandCheck, WhatIsOutsideIsNamedWithTheBand) {
  struct Case {
    const char* what;
    const char* patch;
    Problems problems;
  };
  for (const Case& c : std::vector<Case>{
           // Still EU868's channels: its band is the measure.
           {"a plan's file transmitting beyond its band",
            R"({"SX1301_conf":{"radio_0":{"tx_freq_min":862000000,"tx_freq_max":928000000}}})",
            {{"SX1301_conf.radio_0.tx_freq_min", "is at 862 MHz, outside EU868's 863\u2013870 MHz"},
             {"SX1301_conf.radio_0.tx_freq_max",
              "is at 928 MHz, outside EU868's 863\u2013870 MHz"}}},
           // A custom plan: the radios' TX range is the measure.
           {"radio_1 moved up 2 MHz",
            R"({"SX1301_conf":{"radio_1":{"freq":870500000}}})",
            {{"SX1301_conf.chan_multiSF_0",
              "is at 870.1 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"},
             {"SX1301_conf.chan_multiSF_1",
              "is at 870.3 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"},
             {"SX1301_conf.chan_multiSF_2",
              "is at 870.5 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"},
             {"SX1301_conf.chan_Lora_std",
              "is at 870.3 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"},
             {"SX1301_conf.chan_FSK",
              "is at 870.8 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"},
             {"SX1301_conf.radio_1.freq",
              "is at 870.5 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"}}},
           {"a custom plan of a radio that does not transmit",
            R"({"SX1301_conf":{"radio_0":{"tx_enable":false},"radio_1":{"freq":870500000}}})",
            {}},
           // A disabled channel is not received: it is nowhere.
           {"channels outside but turned off",
            R"({"SX1301_conf":{"radio_1":{"freq":870500000},"chan_multiSF_0":{"enable":false},)"
            R"("chan_multiSF_1":{"enable":false},"chan_multiSF_2":{"enable":false},)"
            R"("chan_Lora_std":{"enable":false},"chan_FSK":{"enable":false}}})",
            {{"SX1301_conf.radio_1.freq",
              "is at 870.5 MHz, outside the 863\u2013870 MHz of tx_freq_min and tx_freq_max"}}},
       }) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(checkBand(*merge(*sample(kEu), *parseJson(c.patch))), c.problems);
  }
}

TEST(BandCheck, AFileWithoutAConcentratorHasNothingToCheck) {
  EXPECT_EQ(checkBand(*parseJson(R"({"gateway_conf":{}})")), Problems{});
}

}  // namespace
}  // namespace relaydash
