#pragma once

#include <stdexcept>

#include "gateway/frequency_plan.hpp"
#include "json/value.hpp"

namespace relaydash {

// A plan that the file's concentrator cannot receive: what it asks of which radio, for the
// operator ("US915 sub-band 1 needs 902.3 to 903.7 MHz, beyond what its radios tune: radio_0 is
// an SX1255, which tunes 400 to 510 MHz; ...").
class PlanRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What makes the forwarder file `document` receive `plan`, as a patch to merge into it (merge of
// forwarder_config.hpp, and editJsonText to keep the file's text): only the members whose value
// changes, below the file's own concentrator section (SX1301_conf or SX130x_conf, as
// readConcentratorChannels picks it):
// - radio_N.freq of each enabled radio, chosen so every channel's offset plus half its width fits
//   the half of the radio's band the concentrator allows (config_rule_table.hpp), and every
//   channel is within what its radio's type tunes. The channels, by frequency, are split in two
//   (one part a radio); the split that leaves the most room at the worst channel wins, then the
//   one with the lower part on radio_0, then the most even. A centre is the middle of its
//   channels on the 100 kHz grid where that fits;
// - chan_multiSF_K (the plan's multi-SF channels in its order), chan_Lora_std and chan_FSK:
//   enable, radio and if, with bandwidth and spread_factor or datarate where the plan has the
//   channel; enable false for a channel the plan does not use (one the file does not have is
//   left out);
// - tx_freq_min and tx_freq_max of each radio with tx_enable, the plan's TX range.
// Nothing else: gains, TX gain tables, RSSI offsets, types and comments stay as they are. An
// empty object when the file already receives the plan so.
// Throws PlanRefused when the file has no concentrator section, no enabled radio, a radio type
// its concentrator does not take, radios that cannot tune the plan's frequencies, or too few
// radios to span its channels.
JsonNodePtr planPatch(const JsonNode& document, const FrequencyPlan& plan);

}  // namespace relaydash
