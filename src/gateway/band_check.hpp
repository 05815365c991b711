#pragma once

#include <vector>

#include "gateway/config_rules.hpp"
#include "gateway/frequency_plan.hpp"
#include "json/value.hpp"

namespace relaydash {

// Where a forwarder file (as it would be after a change) receives or transmits outside its band:
// the band of the plan the file implements (recognisePlan, exact only) or, for a custom plan, the
// range its transmitting radios' tx_freq_min and tx_freq_max give (from the lowest to the
// highest); no problem at all when it has neither. Listed, each where it is in the file:
// - an enabled channel whose centre is outside ("SX1301_conf.chan_multiSF_3": "is at 871.1 MHz,
//   outside EU868's 863–870 MHz");
// - an enabled radio's centre outside it ("SX1301_conf.radio_0.freq");
// - with a plan, a tx_freq_min or tx_freq_max of a transmitting radio outside the plan's band.
// Frequencies are centres, as the forwarder compares a transmission's with tx_freq_min and
// tx_freq_max. Channels first, in the file's order, then radios.
std::vector<ConfigProblem> checkBand(const JsonNode& document);
// The same against the band of `plan` (the plan a file implemented before it was changed,
// whatever the change makes of it), with its TX limits checked too; as above when null.
std::vector<ConfigProblem> checkBand(const JsonNode& document, const FrequencyPlan* plan);

}  // namespace relaydash
