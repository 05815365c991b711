#pragma once

// The data of the configuration rules (config_rules.cpp): what the packet forwarders accept, as
// observed on lora_pkt_fwd of the SX1302 HAL 2.1.0 (SX130x_conf) and of packet_forwarder 4.0.1
// (SX1301_conf). assets/ui/config/rules.js holds the same table: a change here is a change there.

#include <array>
#include <cstdint>
#include <string_view>

namespace relaydash::config_rules {

// What a radio can tune, whatever the concentrator.
struct RadioType {
  std::string_view type;
  std::int64_t minMhz;
  std::int64_t maxMhz;
};
inline constexpr std::array kRadioTypes{
    RadioType{"SX1255", 400, 510},
    RadioType{"SX1257", 862, 1020},
    RadioType{"SX1250", 150, 960},
};

// The half of the radio's receive band a channel of up to maxBandwidthHz must fit in: its
// offset plus half its bandwidth.
struct HalfBand {
  std::int64_t maxBandwidthHz;
  std::int64_t halfBandHz;
};

struct Concentrator {
  std::string_view section;
  std::string_view chip;
  // The radio types the forwarder takes, in the order its message names them.
  std::array<std::string_view, 3> radioTypes;
  // The radios' centre frequencies the HAL takes, whatever the radio (0 to 0: no limit of its
  // own).
  std::int64_t minRadioMhz;
  std::int64_t maxRadioMhz;
  // Narrowest bandwidth first.
  std::array<HalfBand, 3> halfBands;
  // The forwarder exits when radio_0 or radio_1 is disabled.
  bool needsBothRadios;
  // The forwarder crashes on an enabled radio without a type. The SX1301's oldest vendor files
  // (basic_pkt_fwd) have no type, so there it is not asked for.
  bool typeRequired;
};
inline constexpr std::array kConcentrators{
    Concentrator{.section = "SX1301_conf",
                 .chip = "SX1301",
                 .radioTypes = {"SX1255", "SX1257"},
                 .minRadioMhz = 0,
                 .maxRadioMhz = 0,
                 .halfBands = {HalfBand{125'000, 462'500}, {250'000, 500'000}, {500'000, 550'000}},
                 .needsBothRadios = true,
                 .typeRequired = true},
    Concentrator{.section = "SX130x_conf",
                 .chip = "SX1302/SX1303",
                 .radioTypes = {"SX1250", "SX1255", "SX1257"},
                 .minRadioMhz = 100,
                 .maxRadioMhz = 1000,
                 .halfBands = {HalfBand{500'000, 800'000}},
                 .needsBothRadios = false,
                 .typeRequired = true},
};

// The bandwidths the concentrator's FSK demodulator has: a channel takes the first that holds it.
inline constexpr std::array<std::int64_t, 7> kFskSteps{7'800,   15'600,  31'200, 62'500,
                                                       125'000, 250'000, 500'000};
// The bandwidths a LoRa standard channel may have.
inline constexpr std::array<std::int64_t, 3> kLoraStdBandwidths{125'000, 250'000, 500'000};
// Every multi-SF channel is this wide.
inline constexpr std::int64_t kMultiSfBandwidth = 125'000;

inline constexpr std::array<std::string_view, 3> kSections{"gateway_conf", "SX1301_conf",
                                                           "SX130x_conf"};
inline constexpr std::array<std::string_view, 2> kPorts{"serv_port_up", "serv_port_down"};
// What the forwarder copies the server's address into holds 63 bytes and the terminating zero.
inline constexpr std::size_t kMaxAddressBytes = 63;
inline constexpr std::array<std::string_view, 12> kGatewayBooleans{"forward_crc_valid",
                                                                   "forward_crc_error",
                                                                   "forward_crc_disabled",
                                                                   "fake_gps",
                                                                   "gps",
                                                                   "beacon",
                                                                   "logger",
                                                                   "upstream",
                                                                   "downstream",
                                                                   "ghoststream",
                                                                   "radiostream",
                                                                   "statusstream"};
inline constexpr std::array<std::string_view, 1> kServerBooleans{"serv_enabled"};
// Paths below the concentrator's section.
inline constexpr std::array<std::string_view, 6> kConcentratorBooleans{
    "lorawan_public",         "full_duplex",
    "fine_timestamp.enable",  "sx1261_conf.spectral_scan.enable",
    "sx1261_conf.lbt.enable", "lbt_cfg.enable"};
inline constexpr std::array<std::string_view, 2> kRadioBooleans{"enable", "tx_enable"};
inline constexpr std::array<std::string_view, 3> kChannelBooleans{"enable", "implicit_hdr",
                                                                  "implicit_crc_en"};

// Members the forwarder reads as numbers, and what is said when one is not. Those with a rule of
// their own (ports, intervals, beacon_period) are not listed: the rule says it.
inline constexpr std::string_view kMustBeNumber = "must be a number";
inline constexpr std::string_view kMustBeFrequency = "must be a frequency in Hz";
inline constexpr std::string_view kMustBeOffset = "must be an offset in Hz";
inline constexpr std::string_view kMustBeRadioNumber = "must be the number of a radio";
struct NumberMember {
  std::string_view name;
  std::string_view message = kMustBeNumber;
};
inline constexpr std::array<NumberMember, 12> kGatewayNumbers{NumberMember{"push_timeout_ms"},
                                                              {"autoquit_threshold"},
                                                              {"beacon_freq_hz"},
                                                              {"beacon_freq_nb"},
                                                              {"beacon_freq_step"},
                                                              {"beacon_datarate"},
                                                              {"beacon_bw_hz"},
                                                              {"beacon_power"},
                                                              {"beacon_infodesc"},
                                                              {"ref_latitude"},
                                                              {"ref_longitude"},
                                                              {"ref_altitude"}};
inline constexpr std::array<NumberMember, 2> kConcentratorNumbers{NumberMember{"clksrc"},
                                                                  {"antenna_gain"}};
inline constexpr std::array<NumberMember, 5> kRadioNumbers{NumberMember{"freq", kMustBeFrequency},
                                                           {"rssi_offset"},
                                                           {"tx_freq_min"},
                                                           {"tx_freq_max"},
                                                           {"tx_notch_freq"}};
inline constexpr std::array<NumberMember, 6> kChannelNumbers{
    NumberMember{"radio", kMustBeRadioNumber},
    {"if", kMustBeOffset},
    {"bandwidth"},
    {"spread_factor"},
    {"datarate"},
    {"freq_deviation"}};
// A TX gain entry: tx_lut_N in the SX1301's section, radio_N.tx_gain_lut[i] in the SX1302's.
inline constexpr std::array<NumberMember, 6> kGainNumbers{
    NumberMember{"pa_gain"}, {"mix_gain"}, {"rf_power"}, {"dig_gain"}, {"dac_gain"}, {"pwr_idx"}};

// The only radios there are; radio_2 and up are not read.
inline constexpr std::array<std::string_view, 2> kRadios{"radio_0", "radio_1"};
inline constexpr std::string_view kRadioPrefix = "radio_";
inline constexpr std::string_view kGainPrefix = "tx_lut_";
inline constexpr std::string_view kMultiSfPrefix = "chan_multiSF_";
inline constexpr std::string_view kLoraStd = "chan_Lora_std";
inline constexpr std::string_view kFsk = "chan_FSK";

}  // namespace relaydash::config_rules
