#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/task.hpp"

namespace relaydash {

// What watching the forwarder's unit after a restart found.
struct WatchVerdict {
  bool healthy = true;
  // Why it is not, for the operator: "the forwarder stopped 3 s after the restart (now
  // activating/auto-restart)".
  std::string reason;
};

struct UnitLook;

// Follows a unit from its first look after a restart: it must be active and running then and
// stay so, with the MainPID and NRestarts of that first look. A look that fails counts as
// unhealthy, as nothing can then vouch for the forwarder; but one that relaydash could not make
// for want of descriptors counts for nothing (the next look is the first when it was). Each
// look answers why the unit is no longer healthy, or nullopt.
class UnitFollower {
 public:
  explicit UnitFollower(std::string unit) : unit_(std::move(unit)) {}
  Task<std::optional<std::string>> first();
  Task<std::optional<std::string>> next();
  // The last look found the unit unhealthy because its state could not be read at all.
  bool unreadable() const noexcept { return unreadable_; }

 private:
  std::optional<std::string> judgeFirst(const UnitLook& now);

  std::string unit_;
  std::chrono::steady_clock::time_point start_{};
  std::optional<std::int64_t> restarts_;
  std::optional<std::int64_t> mainPid_;
  bool firstSeen_ = false;
  bool unreadable_ = false;
};

// Watches the unit from just after a restart for `settle`: it must be active and running at the
// first look and stay so, with the MainPID and NRestarts of that first look. systemd's usual
// forwarder unit restarts a crashing forwarder on its own, so `systemctl restart` succeeding says
// little; a new PID or a grown restart count says it crashed. Looks every `interval` with
// `systemctl show` on the event loop; a look that fails counts as unhealthy, as nothing can then
// vouch for the forwarder. Never raises for what it finds.
Task<WatchVerdict> watchUnit(std::string unit, std::chrono::milliseconds settle,
                             std::chrono::milliseconds interval = std::chrono::seconds(1));

// Looks every `interval` until the unit is active and running, at most for `limit`; answers
// whether it was.
Task<bool> waitUntilRunning(std::string unit, std::chrono::milliseconds limit,
                            std::chrono::milliseconds interval = std::chrono::seconds(1));

}  // namespace relaydash
