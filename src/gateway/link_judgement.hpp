#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gateway/link_health.hpp"

namespace relaydash {

// What the network server did with the forwarder's datagrams before a change: the
// acknowledgements of the last report before it that sent any (nullopt: none did).
struct LinkBefore {
  std::optional<double> pushAckPercent;
  std::optional<double> pullAckPercent;
};

// Of the reports whose own time is before `timeUtc` (microseconds).
LinkBefore linkBefore(const std::vector<LinkReport>& reports, std::int64_t timeUtc);

// How the link looks after a change, from the first report after it that sent anything.
struct LinkAfter {
  enum class State {
    Waiting,  // no such report yet
    Kept,     // acknowledged as before, or never acknowledged before either
    Lost,     // acknowledged before the change and not at all after it
  };
  State state = State::Waiting;
  // For the operator: "PUSH_DATA acknowledged 100 % in the first report after the change", or
  // with Lost, "the network server stopped acknowledging after the change: …".
  std::string text;
};

// Judges the reports whose own time is after `timeUtc` against what was acknowledged before.
// Only a report that sent datagrams of a kind says whether they were acknowledged: the forwarder
// prints 0 % for a kind it did not send in the interval.
LinkAfter linkAfter(const LinkBefore& before, const std::vector<LinkReport>& reports,
                    std::int64_t timeUtc);

// "100 %", "66.7 %": a percentage as the operator reads it.
std::string percentText(double percent);

}  // namespace relaydash
