#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gateway/link_health.hpp"
#include "gateway/unit_status.hpp"

namespace relaydash {

// The forwarder's default stat_interval, in seconds.
inline constexpr int kDefaultStatInterval = 30;

// How old the newest report is. The journal gets the forwarder's output in 4 KiB bursts, so on a
// quiet gateway the newest report it holds is often several intervals old while all is well: a
// report is stale only when it is older than two intervals and the longest delay the journal
// showed over the reports read (arrival − time), at least 10 s and at most four intervals.
struct ReportAge {
  int statIntervalSeconds = kDefaultStatInterval;
  std::optional<std::int64_t> ageSeconds;  // now − the newest report's own time; nullopt: none
  std::int64_t staleAfterSeconds = 0;
  bool stale = false;
};

ReportAge reportAge(std::span<const LinkReport> reports, int statIntervalSeconds,
                    std::int64_t nowMicros);

// The newest change of the forwarder's configuration that can be undone: the history version
// that holds the file from before it.
struct LastChange {
  int version = 0;
  std::int64_t time = 0;  // when the change was made, microseconds UTC
  std::string procedure;
  std::string user;
};

// What the verdict is drawn from.
struct GatewayFacts {
  std::int64_t now = 0;  // microseconds UTC
  // nullopt when relaydash does not know the forwarder's unit: then it has no reports either.
  std::optional<UnitStatus> forwarder;
  bool unitRead = true;                 // false when systemd could not be asked about it
  bool journalRead = true;              // false when journalctl failed
  std::span<const LinkReport> reports;  // the last hour's, oldest first (held by the caller)
  int statIntervalSeconds = kDefaultStatInterval;
  std::optional<bool> clockSynchronized;  // nullopt: cannot tell
  std::optional<LastChange> lastChange;   // nullopt: none is kept (or none was asked for)
};

enum class VerdictLevel { Good, Warning, Bad, Unknown };

struct VerdictCheck {
  std::string name;  // "forwarder", "reports", "link" or "clock"
  VerdictLevel level = VerdictLevel::Unknown;
  std::string text;
};

// One line for the operator on whether the gateway forwards, and the checks it comes from. Never
// good from a stale report or a forwarder that is not running steadily; at most a warning while
// the clock is not synchronised.
struct GatewayVerdict {
  VerdictLevel level = VerdictLevel::Unknown;
  std::string text;                      // times in it are UTC "HH:MM"
  std::optional<std::int64_t> since;     // when the present state began, when known
  std::optional<std::int64_t> logsFrom;  // where the forwarder's log explains it
  // The change that may have caused the trouble, when it came shortly before it began.
  std::optional<LastChange> change;
  std::vector<VerdictCheck> checks;  // forwarder, reports, link, clock
};

// Whether the verdict could name a change (the forwarder fails, or the network server stopped
// acknowledging): only then is the history worth reading for facts.lastChange.
bool mayBlameChange(const GatewayFacts& facts);

GatewayVerdict judgeGateway(const GatewayFacts& facts);

const char* levelName(VerdictLevel level);

}  // namespace relaydash
