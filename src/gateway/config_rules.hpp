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

// Checks a configuration document before it is written. The rules are a table the web
// application holds too (assets/ui/rules.js), with the same messages, and both are tested
// against the same cases (tests/data/config-rules.json):
// - the document, and its sections gateway_conf, SX1301_conf and SX130x_conf where present, are
//   objects;
// - gateway_conf.gateway_ID is 16 hexadecimal digits; server_address is a text that is not
//   empty; serv_port_up and serv_port_down are whole numbers from 1 to 65535, in gateway_conf and
//   in each entry of its servers array;
// - the members the forwarder reads as booleans are booleans;
// - an enabled radio's freq is within what its type can tune (SX1255 400-510 MHz, SX1257
//   862-1020 MHz, SX1250 150-960 MHz; other types are not checked);
// - an enabled channel names a radio that exists, its if offset is within what the concentrator
//   demodulates (±400 kHz on the SX1301, ±737.5 kHz on the SX1302/SX1303), and the resulting
//   frequency is within what its radio can tune.
// Members the rules do not name are never a problem: they are the forwarder's own. Problems come
// in the order the rules are listed here, section by section.
std::vector<ConfigProblem> checkForwarderConfig(const JsonNode& document);

// "gateway_conf.gateway_ID must be 16 hexadecimal digits; serv_port_up must …": every problem,
// for a message.
std::string describeProblems(const std::vector<ConfigProblem>& problems);

}  // namespace relaydash
