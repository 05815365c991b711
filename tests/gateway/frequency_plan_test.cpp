#include "gateway/frequency_plan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace relaydash {
namespace {

std::int64_t hz(double mhz) {
  return std::llround(mhz * 1e6);
}

struct Wide {
  double mhz = 0;  // 0: none
  int khz = 0;
  int sf = 0;
};
struct Fsk {
  double mhz = 0;  // 0: none
  int bps = 0;
};
struct Band {
  double minMhz;
  double maxMhz;
};

// The uplink channels as the regional parameters list them, and the band they belong to.
struct Expected {
  const char* region;
  int subBand;
  const char* clause;
  std::vector<double> multiSf;
  Wide lora;
  Fsk fsk;
  Band band;
};

const std::vector<Expected> kExpected = {
    // Defaults 868.1/868.3/868.5; 867.1-867.9, DR6 (SF7 250 kHz) at 868.3 and DR7 (FSK 50 kbps)
    // at 868.8 as networks add them.
    {"EU868",
     0,
     "RP002-1.0.3 §2.3.2",
     {868.1, 868.3, 868.5, 867.1, 867.3, 867.5, 867.7, 867.9},
     {868.3, 250, 7},
     {868.8, 50000},
     {863, 870}},
    // Sub-band n: channels 8(n-1)..8(n-1)+7 at 902.3 + 0.2 k MHz, and channel 63+n at
    // 903.0 + 1.6 (n-1) MHz, 500 kHz wide, SF8 (DR4).
    {"US915",
     1,
     "RP002-1.0.3 §2.4.2",
     {902.3, 902.5, 902.7, 902.9, 903.1, 903.3, 903.5, 903.7},
     {903.0, 500, 8},
     {},
     {902, 928}},
    {"US915",
     2,
     "RP002-1.0.3 §2.4.2",
     {903.9, 904.1, 904.3, 904.5, 904.7, 904.9, 905.1, 905.3},
     {904.6, 500, 8},
     {},
     {902, 928}},
    {"US915",
     3,
     "RP002-1.0.3 §2.4.2",
     {905.5, 905.7, 905.9, 906.1, 906.3, 906.5, 906.7, 906.9},
     {906.2, 500, 8},
     {},
     {902, 928}},
    {"US915",
     4,
     "RP002-1.0.3 §2.4.2",
     {907.1, 907.3, 907.5, 907.7, 907.9, 908.1, 908.3, 908.5},
     {907.8, 500, 8},
     {},
     {902, 928}},
    {"US915",
     5,
     "RP002-1.0.3 §2.4.2",
     {908.7, 908.9, 909.1, 909.3, 909.5, 909.7, 909.9, 910.1},
     {909.4, 500, 8},
     {},
     {902, 928}},
    {"US915",
     6,
     "RP002-1.0.3 §2.4.2",
     {910.3, 910.5, 910.7, 910.9, 911.1, 911.3, 911.5, 911.7},
     {911.0, 500, 8},
     {},
     {902, 928}},
    {"US915",
     7,
     "RP002-1.0.3 §2.4.2",
     {911.9, 912.1, 912.3, 912.5, 912.7, 912.9, 913.1, 913.3},
     {912.6, 500, 8},
     {},
     {902, 928}},
    {"US915",
     8,
     "RP002-1.0.3 §2.4.2",
     {913.5, 913.7, 913.9, 914.1, 914.3, 914.5, 914.7, 914.9},
     {914.2, 500, 8},
     {},
     {902, 928}},
    // Sub-band n: 915.2 + 0.2 k MHz, and the 500 kHz channel at 915.9 + 1.6 (n-1) MHz.
    {"AU915",
     1,
     "RP002-1.0.3 §2.7.2",
     {915.2, 915.4, 915.6, 915.8, 916, 916.2, 916.4, 916.6},
     {915.9, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     2,
     "RP002-1.0.3 §2.7.2",
     {916.8, 917, 917.2, 917.4, 917.6, 917.8, 918, 918.2},
     {917.5, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     3,
     "RP002-1.0.3 §2.7.2",
     {918.4, 918.6, 918.8, 919, 919.2, 919.4, 919.6, 919.8},
     {919.1, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     4,
     "RP002-1.0.3 §2.7.2",
     {920, 920.2, 920.4, 920.6, 920.8, 921, 921.2, 921.4},
     {920.7, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     5,
     "RP002-1.0.3 §2.7.2",
     {921.6, 921.8, 922, 922.2, 922.4, 922.6, 922.8, 923},
     {922.3, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     6,
     "RP002-1.0.3 §2.7.2",
     {923.2, 923.4, 923.6, 923.8, 924, 924.2, 924.4, 924.6},
     {923.9, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     7,
     "RP002-1.0.3 §2.7.2",
     {924.8, 925, 925.2, 925.4, 925.6, 925.8, 926, 926.2},
     {925.5, 500, 8},
     {},
     {915, 928}},
    {"AU915",
     8,
     "RP002-1.0.3 §2.7.2",
     {926.4, 926.6, 926.8, 927, 927.2, 927.4, 927.6, 927.8},
     {927.1, 500, 8},
     {},
     {915, 928}},
    // AS923_FREQ_OFFSET: 0, -1.8, -6.6 and -5.9 MHz.
    {"AS923-1",
     0,
     "RP002-1.0.3 §2.9.2",
     {923.2, 923.4, 923.6, 923.8, 924.0, 924.2, 924.4, 924.6},
     {},
     {},
     {915, 928}},
    {"AS923-2",
     0,
     "RP002-1.0.3 §2.9.2",
     {921.4, 921.6, 921.8, 922.0, 922.2, 922.4, 922.6, 922.8},
     {},
     {},
     {920, 923}},
    {"AS923-3",
     0,
     "RP002-1.0.3 §2.9.2",
     {916.6, 916.8, 917.0, 917.2, 917.4, 917.6, 917.8, 918.0},
     {},
     {},
     {915, 921}},
    {"AS923-4",
     0,
     "RP002-1.0.3 §2.9.2",
     {917.3, 917.5, 917.7, 917.9, 918.1, 918.3, 918.5, 918.7},
     {},
     {},
     {917, 920}},
    // Centres from 920.9 to 923.3 MHz.
    {"KR920",
     0,
     "RP002-1.0.3 §2.10.2",
     {922.1, 922.3, 922.5, 922.7, 922.9, 923.1, 923.3},
     {},
     {},
     {920.9, 923.3}},
    {"IN865",
     0,
     "RP002-1.0.3 §2.11.2",
     {865.0625, 865.4025, 865.985, 866.185, 866.385, 866.585, 866.785},
     {},
     {},
     {865, 867}},
    {"RU864",
     0,
     "RP002-1.0.3 §2.12.2",
     {868.9, 869.1, 864.1, 864.3, 864.5, 864.7, 864.9},
     {},
     {},
     {864, 870}},
    // Group g: channels 8(g-1)..8(g-1)+7 at 470.3 + 0.2 n MHz.
    {"CN470",
     1,
     "RP002-1.0.3 §2.8.2",
     {470.3, 470.5, 470.7, 470.9, 471.1, 471.3, 471.5, 471.7},
     {},
     {},
     {470, 510}},
    {"CN470",
     2,
     "RP002-1.0.3 §2.8.2",
     {471.9, 472.1, 472.3, 472.5, 472.7, 472.9, 473.1, 473.3},
     {},
     {},
     {470, 510}},
    {"CN470",
     3,
     "RP002-1.0.3 §2.8.2",
     {473.5, 473.7, 473.9, 474.1, 474.3, 474.5, 474.7, 474.9},
     {},
     {},
     {470, 510}},
    {"CN470",
     4,
     "RP002-1.0.3 §2.8.2",
     {475.1, 475.3, 475.5, 475.7, 475.9, 476.1, 476.3, 476.5},
     {},
     {},
     {470, 510}},
    {"CN470",
     5,
     "RP002-1.0.3 §2.8.2",
     {476.7, 476.9, 477.1, 477.3, 477.5, 477.7, 477.9, 478.1},
     {},
     {},
     {470, 510}},
    {"CN470",
     6,
     "RP002-1.0.3 §2.8.2",
     {478.3, 478.5, 478.7, 478.9, 479.1, 479.3, 479.5, 479.7},
     {},
     {},
     {470, 510}},
    {"CN470",
     7,
     "RP002-1.0.3 §2.8.2",
     {479.9, 480.1, 480.3, 480.5, 480.7, 480.9, 481.1, 481.3},
     {},
     {},
     {470, 510}},
    {"CN470",
     8,
     "RP002-1.0.3 §2.8.2",
     {481.5, 481.7, 481.9, 482.1, 482.3, 482.5, 482.7, 482.9},
     {},
     {},
     {470, 510}},
    {"CN470",
     9,
     "RP002-1.0.3 §2.8.2",
     {483.1, 483.3, 483.5, 483.7, 483.9, 484.1, 484.3, 484.5},
     {},
     {},
     {470, 510}},
    {"CN470",
     10,
     "RP002-1.0.3 §2.8.2",
     {484.7, 484.9, 485.1, 485.3, 485.5, 485.7, 485.9, 486.1},
     {},
     {},
     {470, 510}},
    {"CN470",
     11,
     "RP002-1.0.3 §2.8.2",
     {486.3, 486.5, 486.7, 486.9, 487.1, 487.3, 487.5, 487.7},
     {},
     {},
     {470, 510}},
    {"CN470",
     12,
     "RP002-1.0.3 §2.8.2",
     {487.9, 488.1, 488.3, 488.5, 488.7, 488.9, 489.1, 489.3},
     {},
     {},
     {470, 510}},
};

std::vector<PlanChannel> channelsOf(const Expected& e) {
  std::vector<PlanChannel> channels;
  for (const double mhz : e.multiSf)
    channels.push_back({ChannelKind::MultiSf, hz(mhz), 125'000, 0, 0});
  if (e.lora.mhz != 0)
    channels.push_back({ChannelKind::LoraStd, hz(e.lora.mhz), e.lora.khz * 1000, e.lora.sf, 0});
  if (e.fsk.mhz != 0) channels.push_back({ChannelKind::Fsk, hz(e.fsk.mhz), 125'000, 0, e.fsk.bps});
  return channels;
}

TEST(FrequencyPlan, EveryPlanHasTheRegionalParametersChannels) {
  ASSERT_EQ(frequencyPlans().size(), kExpected.size());
  for (std::size_t i = 0; i < kExpected.size(); ++i) {
    const Expected& e = kExpected[i];
    const FrequencyPlan& plan = frequencyPlans()[i];
    SCOPED_TRACE(plan.name);
    EXPECT_EQ(plan.region, e.region);
    EXPECT_EQ(plan.subBand, e.subBand);
    EXPECT_EQ(plan.clause, e.clause);
    EXPECT_FALSE(plan.note.empty());
    EXPECT_EQ(plan.channels, channelsOf(e));
    EXPECT_EQ(plan.bandMinHz, hz(e.band.minMhz));
    EXPECT_EQ(plan.bandMaxHz, hz(e.band.maxMhz));
    // A transmission the radios are allowed is within the band, and so is every channel.
    EXPECT_GE(plan.txMinHz, plan.bandMinHz);
    EXPECT_LE(plan.txMaxHz, plan.bandMaxHz);
    for (const PlanChannel& c : plan.channels) {
      EXPECT_GE(c.freqHz, plan.bandMinHz) << mhzText(c.freqHz);
      EXPECT_LE(c.freqHz, plan.bandMaxHz) << mhzText(c.freqHz);
    }
  }
}

// Where the gateway transmits: the downstream channels and RX2 of each region, which are the
// upstream band but for US915 and AU915 (923.3 + 0.6 n MHz, §2.4.2 and §2.7.2) and CN470
// (500.3 + 0.2 n MHz, §2.8.2).
TEST(FrequencyPlan, TransmitRangeHoldsTheDownstreamChannels) {
  struct Tx {
    const char* region;
    Band range;
  };
  const std::vector<Tx> expected = {
      {"EU868", {863, 870}},   {"US915", {923, 928}},     {"AU915", {923, 928}},
      {"AS923-1", {915, 928}}, {"AS923-2", {920, 923}},   {"AS923-3", {915, 921}},
      {"AS923-4", {917, 920}}, {"KR920", {920.9, 923.3}}, {"IN865", {865, 867}},
      {"RU864", {864, 870}},   {"CN470", {500, 510}}};
  for (const FrequencyPlan& plan : frequencyPlans()) {
    SCOPED_TRACE(plan.name);
    const auto tx = std::find_if(expected.begin(), expected.end(),
                                 [&](const Tx& t) { return plan.region == t.region; });
    ASSERT_NE(tx, expected.end());
    EXPECT_EQ(plan.txMinHz, hz(tx->range.minMhz));
    EXPECT_EQ(plan.txMaxHz, hz(tx->range.maxMhz));
  }
}

// The sub-bands together are the region's whole uplink: US915's 64 + 8, AU915's 64 + 8,
// CN470's 96, none twice.
TEST(FrequencyPlan, SubBandsCoverTheRegionOnce) {
  struct Whole {
    const char* region;
    double firstMhz;
    int count;
    double firstWideMhz;
  };
  for (const Whole w : {Whole{"US915", 902.3, 64, 903.0}, Whole{"AU915", 915.2, 64, 915.9},
                        Whole{"CN470", 470.3, 96, 0}}) {
    SCOPED_TRACE(w.region);
    std::multiset<std::int64_t> narrow, wide;
    for (const FrequencyPlan& plan : frequencyPlans()) {
      if (plan.region != w.region) continue;
      for (const PlanChannel& c : plan.channels)
        (c.bandwidthHz == 125'000 ? narrow : wide).insert(c.freqHz);
    }
    std::multiset<std::int64_t> expectNarrow, expectWide;
    for (int n = 0; n < w.count; ++n)
      expectNarrow.insert(hz(w.firstMhz) + n * 200'000);
    for (int n = 0; w.firstWideMhz != 0 && n < 8; ++n)
      expectWide.insert(hz(w.firstWideMhz) + n * 1'600'000);
    EXPECT_EQ(narrow, expectNarrow);
    EXPECT_EQ(wide, expectWide);
  }
}

TEST(FrequencyPlan, FoundByTheApisRegionAndSubBand) {
  ASSERT_NE(findFrequencyPlan("US915", 2), nullptr);
  EXPECT_EQ(findFrequencyPlan("US915", 2)->name, "US915 sub-band 2");
  EXPECT_EQ(findFrequencyPlan("CN470", 12)->name, "CN470 sub-band 12");
  EXPECT_EQ(findFrequencyPlan("EU868", 0)->name, "EU868");
  EXPECT_EQ(findFrequencyPlan("AS923-3", 0)->name, "AS923-3");
  for (const auto& [region, subBand] : std::vector<std::pair<const char*, int>>{{"US915", 0},
                                                                                {"US915", 9},
                                                                                {"AU915", 0},
                                                                                {"CN470", 13},
                                                                                {"EU868", 1},
                                                                                {"AS923", 0},
                                                                                {"eu868", 0},
                                                                                {"EU863-870", 0}}) {
    EXPECT_EQ(findFrequencyPlan(region, subBand), nullptr) << region << " " << subBand;
  }
}

TEST(FrequencyPlan, FrequenciesAreWrittenAsAnOperatorReadsThem) {
  EXPECT_EQ(mhzText(868'100'000), "868.1");
  EXPECT_EQ(mhzText(865'062'500), "865.0625");
  EXPECT_EQ(mhzText(923'000'000), "923");
  EXPECT_EQ(mhzText(-400'000), "-0.4");
  EXPECT_EQ(bandText(863'000'000, 870'000'000), "863\u2013870 MHz");
  EXPECT_EQ(channelText(ChannelKind::MultiSf, 867'100'000, 125'000), "867.1 MHz");
  EXPECT_EQ(channelText(ChannelKind::LoraStd, 868'300'000, 250'000), "868.3 MHz LoRa 250 kHz");
  EXPECT_EQ(channelText(ChannelKind::Fsk, 868'800'000, 125'000), "868.8 MHz FSK");
}

}  // namespace
}  // namespace relaydash
