#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gateway/frequency_plan.hpp"
#include "json/value.hpp"

namespace relaydash {

namespace config_rules {
struct Concentrator;
}  // namespace config_rules

// What a forwarder file's concentrator section says its radios are and which channels they
// receive, as the forwarder reads it. Read leniently: a member that is missing or not a number
// makes its radio or channel count as not there; the configuration rules say what is wrong.

struct FileRadio {
  bool present = false;  // the section has radio_N as an object
  bool enabled = false;
  std::string type;  // "" when it has none
  std::optional<std::int64_t> freqHz;
  bool txEnabled = false;
  std::optional<std::int64_t> txMinHz;
  std::optional<std::int64_t> txMaxHz;
};

struct FileChannel {
  std::string key;  // "chan_multiSF_3", "chan_Lora_std", "chan_FSK"
  ChannelKind kind = ChannelKind::MultiSf;
  int radio = 0;
  std::int64_t freqHz = 0;  // the radio's freq plus the channel's if
  // As the concentrator takes it: an FSK channel's is its demodulator's filter.
  std::int64_t bandwidthHz = 0;
};

struct ConcentratorChannels {
  // A row of config_rule_table.hpp: the layout, SX1301_conf or SX130x_conf.
  const config_rules::Concentrator* concentrator = nullptr;
  std::string section;  // its name
  std::array<FileRadio, 2> radios;
  // The enabled channels of chan_multiSF_0..7, chan_Lora_std and chan_FSK, in the file's order,
  // whose radio is enabled and has a freq; a channel whose bandwidth the forwarder refuses is
  // left out.
  std::vector<FileChannel> channels;
};

// The channels of the document's SX1301_conf or, when it has none, its SX130x_conf; nullopt when
// it has neither as an object.
std::optional<ConcentratorChannels> readConcentratorChannels(const JsonNode& document);

// "radio_0" for 0.
std::string radioKey(int radio);

}  // namespace relaydash
