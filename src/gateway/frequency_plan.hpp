#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash {

// The three kinds of receive channel a concentrator has: eight multi-SF LoRa channels
// (chan_multiSF_0..7), one LoRa channel of a single spreading factor that may be wider
// (chan_Lora_std) and one FSK channel (chan_FSK).
enum class ChannelKind : std::uint8_t { MultiSf, LoraStd, Fsk };

struct PlanChannel {
  ChannelKind kind = ChannelKind::MultiSf;
  std::int64_t freqHz = 0;
  // For FSK the demodulator's filter the channel takes, as the forwarder rounds it.
  std::int64_t bandwidthHz = 0;
  int spreadFactor = 0;       // LoraStd only
  std::int64_t datarate = 0;  // Fsk only, in bit/s

  bool operator==(const PlanChannel&) const = default;
};

// A frequency plan a gateway's file can implement: the uplink channels of one region (and one
// sub-band of it, where the region has more channels than a concentrator receives), the band
// they are in and the band the gateway may transmit in.
struct FrequencyPlan {
  std::string region;  // as the API names it: "EU868", "US915", "AS923-2", ...
  int subBand = 0;     // 1..8 for US915/AU915, 1..12 for CN470's groups; 0 for none
  std::string name;    // "US915 sub-band 2", "EU868"
  // Where the channels and the band come from ("RP002-1.0.3 §2.4.2"), and what of them is not
  // from there, for the operator who checks.
  std::string clause;
  std::string note;
  // Every channel's and every transmission's centre frequency lies within the band.
  std::int64_t bandMinHz = 0;
  std::int64_t bandMaxHz = 0;
  // What radios with tx_enable get as tx_freq_min/tx_freq_max: where the plan's downstream
  // channels are, within the band.
  std::int64_t txMinHz = 0;
  std::int64_t txMaxHz = 0;
  // Multi-SF channels first, in the order they take chan_multiSF_0..7; then chan_Lora_std and
  // chan_FSK where the plan has them.
  std::vector<PlanChannel> channels;
};

// Every plan, in a fixed order (regions as the API lists them, sub-bands in order). Built once;
// the references live as long as the program.
const std::vector<FrequencyPlan>& frequencyPlans();

// The plan of a region and sub-band (0 where the region has none); nullptr when there is none.
const FrequencyPlan* findFrequencyPlan(std::string_view region, int subBand);

// "868.1", "865.0625", "923": a frequency in MHz with no trailing zeros.
std::string mhzText(std::int64_t hz);
// "863–870 MHz".
std::string bandText(std::int64_t minHz, std::int64_t maxHz);
// How a channel is named to the operator: "867.1 MHz", "868.3 MHz LoRa 250 kHz",
// "868.8 MHz FSK".
std::string channelText(ChannelKind kind, std::int64_t freqHz, std::int64_t bandwidthHz);

}  // namespace relaydash
