#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "gateway/link_judgement.hpp"
#include "json/value.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The forwarder's own rhythm, from the gateway_conf section of the document it reads.
struct ForwarderTiming {
  std::chrono::seconds statInterval{30};  // between statistics reports
  std::chrono::seconds keepalive{5};      // between PULL_DATA
  int autoquitThreshold = 0;              // unacknowledged PULL_DATA before it quits; 0: never
};
ForwarderTiming timingOf(const JsonNode& document);

// What to watch after the forwarder was restarted with a new file.
struct WatchPlan {
  std::string unit;
  // The process must keep running this long.
  std::chrono::milliseconds settle{15'000};
  // Also judge the link: wait for the forwarder's first statistics report after the restart and
  // compare what the network server acknowledged before and after it.
  bool link = true;
  ForwarderTiming timing;
  // Added to the report interval for the journal's late, buffered delivery of a report.
  std::chrono::milliseconds reportMargin{10'000};
  std::int64_t restartedAtUtc = 0;           // microseconds
  std::chrono::milliseconds interval{1000};  // between looks at the unit
};

// How long the process is watched: the settle time, and at least as long as the forwarder takes
// to quit on its own when its autoquit_threshold is set and the server does not answer.
std::chrono::milliseconds processWatchFor(const WatchPlan& plan);
// How long the first report after the restart is waited for.
std::chrono::milliseconds reportWaitFor(const WatchPlan& plan);

// Why a change was found unhealthy and rolled back, in a few kinds an alert can tell apart.
enum class RollbackCause {
  RestartFailed,  // `systemctl restart` with the new file failed
  Stopped,        // the forwarder did not keep running: not running, stopped, or restarted
  Unreadable,     // the unit's state could not be read, so nothing vouched for the forwarder
  Link,           // the network server stopped acknowledging after the change
};
inline constexpr std::size_t kRollbackCauses = 4;
// "restart-failed", "stopped", "unreadable", "link".
std::string_view rollbackCauseName(RollbackCause cause);

struct ChangeVerdict {
  bool healthy = true;
  RollbackCause cause = RollbackCause::Stopped;  // when not healthy
  std::string reason;                            // why not, for the operator
  std::string link;  // what the network server did, or why that could not be told
};

// Watches the unit (see UnitFollower) and, with plan.link, its reports, on the event loop; calls
// `waiting` with what it waits for whenever that changes ("" once it waits for nothing but the
// time). Never raises for what it finds.
Task<ChangeVerdict> watchChange(WatchPlan plan, std::function<void(std::string)> waiting = {});

}  // namespace relaydash
