#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gateway/forwarder_view.hpp"

namespace relaydash {

// The forwarder's configuration at a glance: what an operator checks first. Members the file
// does not hold (or holds with another type) are nullopt. The values are those the forwarder
// works with: a side file's where one sets them.
struct ForwarderSummary {
  std::optional<std::string> gatewayId;      // gateway_conf.gateway_ID
  std::optional<std::string> serverAddress;  // gateway_conf.server_address
  std::optional<std::int64_t> serverPortUp;  // gateway_conf.serv_port_up
  std::optional<std::int64_t> serverPortDown;
  // gateway_conf.stat_interval: seconds between the forwarder's statistics reports (from 1).
  std::optional<std::int64_t> statInterval;
  // "SX1301_conf" (first-generation concentrators) or "SX130x_conf" (SX1302/SX1303).
  std::optional<std::string> layout;
  // The frequency plan the channels implement ("US915 sub-band 2"), "custom" for none exactly;
  // nullopt without a concentrator section.
  std::optional<std::string> plan;
  std::optional<std::int64_t> sizeBytes;
  std::optional<std::int64_t> modified;  // microseconds, UTC
  bool hasComments = false;
  // Why the file could not be read or parsed (the system's or the parser's words).
  std::optional<std::string> error;
  // How the forwarder reads it; nullopt when the file cannot be read at all.
  std::optional<ForwarderView> forwarder;
};

// Reads and summarises the file; never raises: a file that cannot be read or parsed gives a
// summary with `error` set and whatever could be learnt (its size and time when it exists).
ForwarderSummary summarizeForwarderConfig(const std::string& path);

// Whether the text holds a "//" or "/* */" comment outside its strings.
bool hasJsonComments(std::string_view text);

}  // namespace relaydash
