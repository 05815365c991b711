#pragma once

#include <string>
#include <vector>

#include "json/value.hpp"

namespace relaydash {

// A reason the packet forwarder would not start with a configuration, or would start with radios
// it cannot tune: where (the member's path, "gateway_conf.servers[0].serv_port_up"; "" for the
// whole document) and what is wrong ("must be a whole number from 1 to 65535").
struct ConfigProblem {
  std::string path;
  std::string message;

  bool operator==(const ConfigProblem&) const = default;
};

// Checks a configuration document before it is written, as the packet forwarders judge it
// (lora_pkt_fwd of the SX1302 HAL for SX130x_conf, of packet_forwarder 4 for SX1301_conf). The
// rules are a table the web application holds too (assets/ui/config/rules.js), with the same
// messages in the same order, and both are tested against the same cases
// (tests/data/config-rules.json). A message names the forwarder's own where it has one, so the
// operator finds it in the log.
// - the document is an object, and its sections gateway_conf, SX1301_conf and SX130x_conf where
//   present; it has gateway_conf and SX1301_conf or SX130x_conf, or it is no forwarder
//   configuration;
// - gateway_conf.gateway_ID is 16 hexadecimal digits; server_address is a text that is not
//   empty and at most 63 bytes long (the forwarder cuts it there); serv_port_up and
//   serv_port_down are whole numbers from 1 to 65535, in gateway_conf and in each entry of its
//   servers array;
// - the members the forwarder reads as booleans are booleans, and those it reads as numbers are
//   numbers (a number as text reads as 0);
// - keepalive_interval and stat_interval are whole numbers of seconds from 1 (at 0 the forwarder
//   floods the network server, or the journal, and stays up); beacon_period is 0 or a whole
//   number from 6;
// - radio_0 and radio_1 (no higher number is read): on the SX1301 neither is disabled; an
//   enabled one has a type the concentrator takes ("SX1250" on the SX1302/SX1303 only; a missing
//   type crashes the forwarder, but is let through on the SX1301, whose oldest vendor files have
//   none) and a freq within what the type can tune (SX1255 400-510 MHz, SX1257 862-1020 MHz,
//   SX1250 150-960 MHz), on the SX1302/SX1303 within 100-1000 MHz too;
// - an enabled channel names radio 0 or 1, one that is there; a LoRa standard channel is 125, 250
//   or 500 kHz wide, an FSK channel as wide as its bandwidth (or twice its freq_deviation plus
//   its datarate) rounded up to the demodulator's filter, at most 500 kHz, a multi-SF channel
//   125 kHz; its if offset plus half that width fits half the radio's receive band (SX1302/SX1303:
//   800 kHz; SX1301: 462.5 kHz up to 125 kHz wide, 500 at 250, 550 at 500), and the resulting
//   frequency is within what its radio can tune.
// Members the rules do not name are never a problem: they are the forwarder's own. Problems come
// in the order the rules are listed here, section by section.
std::vector<ConfigProblem> checkForwarderConfig(const JsonNode& document);

// "gateway_conf.gateway_ID must be 16 hexadecimal digits; serv_port_up must …": every problem,
// for a message.
std::string describeProblems(const std::vector<ConfigProblem>& problems);

}  // namespace relaydash
