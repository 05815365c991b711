#pragma once

#include <span>

#include "api/procedure.hpp"

namespace relaydash {

// gateway/status (the units, the board, the configuration at a glance, the link to the network
// server and one verdict drawn from them) and gateway/logs (the journal of the forwarder's unit
// or of SSH's).
std::span<const Procedure> gatewayProcedures();

// gateway/logs: the most entries one answer holds, and the most entries read to find a phrase
// (over two days of a forwarder that reports every 30 s).
inline constexpr int kMaxLines = 2000;
inline constexpr int kMaxScanned = 50'000;

// The procedures, each in its own file.
Task<JsonNodePtr> gateway_status(Call& call);  // status.cpp
Task<JsonNodePtr> gateway_logs(Call& call);    // logs.cpp

}  // namespace relaydash
