#include "gateway/frequency_plan.hpp"

#include <array>

namespace relaydash {
namespace {

constexpr std::int64_t kMhz = 1'000'000;
constexpr std::int64_t kKhz = 1'000;

// One region as the LoRaWAN Regional Parameters (RP002-1.0.3) give it. A region with sub-bands
// lists sub-band 1's channels; sub-band n's are those moved up by n-1 steps.
struct RegionRow {
  std::string_view region;
  std::string_view clause;
  std::string_view note;
  std::int64_t bandMinHz;
  std::int64_t bandMaxHz;
  std::int64_t txMinHz;
  std::int64_t txMaxHz;
  std::array<std::int64_t, 8> multiSf;  // 0: no channel
  // AS923-2..4 are AS923-1's channels moved by AS923_FREQ_OFFSET.
  std::int64_t offsetHz = 0;
  int subBands = 0;
  std::int64_t subBandStepHz = 0;
  PlanChannel loraStd{};  // freqHz 0: the plan has none
  PlanChannel fsk{};
};

constexpr PlanChannel loraStd(std::int64_t freqHz, std::int64_t bandwidthHz, int spreadFactor) {
  return {ChannelKind::LoraStd, freqHz, bandwidthHz, spreadFactor, 0};
}

constexpr PlanChannel fsk(std::int64_t freqHz, std::int64_t bandwidthHz, std::int64_t datarate) {
  return {ChannelKind::Fsk, freqHz, bandwidthHz, 0, datarate};
}

constexpr std::string_view kAs923Note =
    "923.2 and 923.4 MHz (moved by the variant's offset) are the default channels; the other six "
    "are the usual ones networks add";
constexpr std::array<std::int64_t, 8> kAs923Channels{923'200'000, 923'400'000, 923'600'000,
                                                     923'800'000, 924'000'000, 924'200'000,
                                                     924'400'000, 924'600'000};

constexpr std::array kRegions{
    RegionRow{.region = "EU868",
              .clause = "RP002-1.0.3 §2.3.2",
              .note = "868.1, 868.3 and 868.5 MHz are the default channels; 867.1-867.9 MHz, the "
                      "250 kHz channel (DR6) and the FSK channel (DR7) are the ones networks add",
              .bandMinHz = 863 * kMhz,
              .bandMaxHz = 870 * kMhz,
              .txMinHz = 863 * kMhz,
              .txMaxHz = 870 * kMhz,
              .multiSf = {868'100'000, 868'300'000, 868'500'000, 867'100'000, 867'300'000,
                          867'500'000, 867'700'000, 867'900'000},
              .loraStd = loraStd(868'300'000, 250 * kKhz, 7),
              .fsk = fsk(868'800'000, 125 * kKhz, 50'000)},
    RegionRow{.region = "US915",
              .clause = "RP002-1.0.3 §2.4.2",
              .note = "upstream channels 0-63 (125 kHz) and 64-71 (500 kHz), eight and one a "
                      "sub-band; the gateway transmits on the downstream channels, 923.3 + 0.6 n "
                      "MHz (500 kHz wide)",
              .bandMinHz = 902 * kMhz,
              .bandMaxHz = 928 * kMhz,
              .txMinHz = 923 * kMhz,
              .txMaxHz = 928 * kMhz,
              .multiSf = {902'300'000, 902'500'000, 902'700'000, 902'900'000, 903'100'000,
                          903'300'000, 903'500'000, 903'700'000},
              .subBands = 8,
              .subBandStepHz = 1'600'000,
              .loraStd = loraStd(903'000'000, 500 * kKhz, 8)},
    RegionRow{.region = "AU915",
              .clause = "RP002-1.0.3 §2.7.2",
              .note = "upstream channels 0-63 (125 kHz) and 64-71 (500 kHz), eight and one a "
                      "sub-band; the gateway transmits on the downstream channels, 923.3 + 0.6 n "
                      "MHz (500 kHz wide)",
              .bandMinHz = 915 * kMhz,
              .bandMaxHz = 928 * kMhz,
              .txMinHz = 923 * kMhz,
              .txMaxHz = 928 * kMhz,
              .multiSf = {915'200'000, 915'400'000, 915'600'000, 915'800'000, 916'000'000,
                          916'200'000, 916'400'000, 916'600'000},
              .subBands = 8,
              .subBandStepHz = 1'600'000,
              .loraStd = loraStd(915'900'000, 500 * kKhz, 8)},
    RegionRow{.region = "AS923-1",
              .clause = "RP002-1.0.3 §2.9.2",
              .note = kAs923Note,
              .bandMinHz = 915 * kMhz,
              .bandMaxHz = 928 * kMhz,
              .txMinHz = 915 * kMhz,
              .txMaxHz = 928 * kMhz,
              .multiSf = kAs923Channels},
    RegionRow{.region = "AS923-2",
              .clause = "RP002-1.0.3 §2.9.2",
              .note = kAs923Note,
              .bandMinHz = 920 * kMhz,
              .bandMaxHz = 923 * kMhz,
              .txMinHz = 920 * kMhz,
              .txMaxHz = 923 * kMhz,
              .multiSf = kAs923Channels,
              .offsetHz = -1'800'000},
    RegionRow{.region = "AS923-3",
              .clause = "RP002-1.0.3 §2.9.2",
              .note = kAs923Note,
              .bandMinHz = 915 * kMhz,
              .bandMaxHz = 921 * kMhz,
              .txMinHz = 915 * kMhz,
              .txMaxHz = 921 * kMhz,
              .multiSf = kAs923Channels,
              .offsetHz = -6'600'000},
    RegionRow{.region = "AS923-4",
              .clause = "RP002-1.0.3 §2.9.2",
              .note = kAs923Note,
              .bandMinHz = 917 * kMhz,
              .bandMaxHz = 920 * kMhz,
              .txMinHz = 917 * kMhz,
              .txMaxHz = 920 * kMhz,
              .multiSf = kAs923Channels,
              .offsetHz = -5'900'000},
    // The band is where the channels' centres may be: 920.9 to 923.3 MHz.
    RegionRow{.region = "KR920",
              .clause = "RP002-1.0.3 §2.10.2",
              .note = "922.1, 922.3 and 922.5 MHz are the default channels; 922.7-923.3 MHz are "
                      "the ones networks add, up to the highest centre the band allows",
              .bandMinHz = 920'900'000,
              .bandMaxHz = 923'300'000,
              .txMinHz = 920'900'000,
              .txMaxHz = 923'300'000,
              .multiSf = {922'100'000, 922'300'000, 922'500'000, 922'700'000, 922'900'000,
                          923'100'000, 923'300'000, 0}},
    RegionRow{.region = "IN865",
              .clause = "RP002-1.0.3 §2.11.2",
              .note =
                  "865.0625, 865.4025 and 865.985 MHz are the default channels; 866.185-866.785 "
                  "MHz are added, as many as two radios of an SX1301 receive",
              .bandMinHz = 865 * kMhz,
              .bandMaxHz = 867 * kMhz,
              .txMinHz = 865 * kMhz,
              .txMaxHz = 867 * kMhz,
              .multiSf = {865'062'500, 865'402'500, 865'985'000, 866'185'000, 866'385'000,
                          866'585'000, 866'785'000, 0}},
    RegionRow{.region = "RU864",
              .clause = "RP002-1.0.3 §2.12.2",
              .note = "868.9 and 869.1 MHz are the default channels; 864.1-864.9 MHz are the ones "
                      "networks add",
              .bandMinHz = 864 * kMhz,
              .bandMaxHz = 870 * kMhz,
              .txMinHz = 864 * kMhz,
              .txMaxHz = 870 * kMhz,
              .multiSf = {868'900'000, 869'100'000, 864'100'000, 864'300'000, 864'500'000,
                          864'700'000, 864'900'000, 0}},
    RegionRow{.region = "CN470",
              .clause = "RP002-1.0.3 §2.8.2",
              .note = "upstream channels 0-95 (470.3 + 0.2 n MHz), eight a group; the gateway "
                      "transmits on the downstream channels, 500.3 + 0.2 n MHz",
              .bandMinHz = 470 * kMhz,
              .bandMaxHz = 510 * kMhz,
              .txMinHz = 500 * kMhz,
              .txMaxHz = 510 * kMhz,
              .multiSf = {470'300'000, 470'500'000, 470'700'000, 470'900'000, 471'100'000,
                          471'300'000, 471'500'000, 471'700'000},
              .subBands = 12,
              .subBandStepHz = 1'600'000},
};

FrequencyPlan planOf(const RegionRow& row, int subBand) {
  const std::int64_t shift =
      row.offsetHz + (subBand > 0 ? (subBand - 1) * row.subBandStepHz : std::int64_t{0});
  FrequencyPlan plan;
  plan.region = row.region;
  plan.subBand = subBand;
  plan.name = plan.region + (subBand > 0 ? " sub-band " + std::to_string(subBand) : "");
  plan.clause = row.clause;
  plan.note = row.note;
  plan.bandMinHz = row.bandMinHz;
  plan.bandMaxHz = row.bandMaxHz;
  plan.txMinHz = row.txMinHz;
  plan.txMaxHz = row.txMaxHz;
  for (const std::int64_t freq : row.multiSf) {
    if (freq != 0) plan.channels.push_back({ChannelKind::MultiSf, freq + shift, 125 * kKhz, 0, 0});
  }
  for (PlanChannel channel : {row.loraStd, row.fsk}) {
    if (channel.freqHz == 0) continue;
    channel.freqHz += shift;
    plan.channels.push_back(channel);
  }
  return plan;
}

std::vector<FrequencyPlan> buildPlans() {
  std::vector<FrequencyPlan> plans;
  for (const RegionRow& row : kRegions) {
    if (row.subBands == 0) plans.push_back(planOf(row, 0));
    for (int n = 1; n <= row.subBands; ++n)
      plans.push_back(planOf(row, n));
  }
  return plans;
}

}  // namespace

const std::vector<FrequencyPlan>& frequencyPlans() {
  static const std::vector<FrequencyPlan> plans = buildPlans();
  return plans;
}

const FrequencyPlan* findFrequencyPlan(std::string_view region, int subBand) {
  for (const FrequencyPlan& plan : frequencyPlans()) {
    if (plan.region == region && plan.subBand == subBand) return &plan;
  }
  return nullptr;
}

std::string mhzText(std::int64_t hz) {
  const bool negative = hz < 0;
  const std::int64_t magnitude = negative ? -hz : hz;
  std::string text;
  if (negative) text += '-';
  text += std::to_string(magnitude / kMhz);
  if (const std::int64_t rest = magnitude % kMhz; rest != 0) {
    std::string fraction = std::to_string(kMhz + rest).substr(1);
    while (fraction.back() == '0')
      fraction.pop_back();
    text += "." + fraction;
  }
  return text;
}

std::string bandText(std::int64_t minHz, std::int64_t maxHz) {
  return mhzText(minHz) + "\u2013" + mhzText(maxHz) + " MHz";
}

std::string channelText(ChannelKind kind, std::int64_t freqHz, std::int64_t bandwidthHz) {
  const std::string freq = mhzText(freqHz) + " MHz";
  switch (kind) {
    case ChannelKind::MultiSf:
      return freq;
    case ChannelKind::LoraStd:
      return freq + " LoRa " + std::to_string(bandwidthHz / kKhz) + " kHz";
    case ChannelKind::Fsk:
      return freq + " FSK";
  }
  return freq;
}

}  // namespace relaydash
