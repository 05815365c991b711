#include "gateway/unit_watch.hpp"

#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "gateway/command.hpp"
#include "gateway/unit_status.hpp"
#include "runtime/event_loop.hpp"

namespace relaydash {

// One look at the unit.
struct UnitLook {
  std::optional<UnitStatus> status;
  std::string error;  // why there is no status
  // systemctl could not be started because relaydash itself is out of descriptors: that says
  // nothing about the forwarder.
  bool starved = false;
};

namespace {

using Clock = EventLoop::Clock;

Task<UnitLook> look(const std::string& unit) {
  UnitLook result;
  // Named: GCC 12 cannot build a braced temporary inside a co_await expression.
  std::vector<std::string> names{unit};
  try {
    std::vector<UnitStatus> statuses = co_await readUnitStatus(std::move(names));
    result.status = std::move(statuses.front());
  } catch (const CommandError& e) {
    result.error = e.what();
    const int error = e.result().startError;
    result.starved = error == EMFILE || error == ENFILE;
  }
  co_return result;
}

bool running(const UnitStatus& s) {
  return s.activeState == "active" && s.subState == "running";
}

std::string state(const UnitStatus& s) {
  return s.activeState + "/" + s.subState;
}

std::string number(const std::optional<std::int64_t>& n) {
  return n ? std::to_string(*n) : "none";
}

std::string after(Clock::time_point since) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since);
  return std::to_string(seconds.count()) + " s after the restart";
}

}  // namespace

Task<std::optional<std::string>> UnitFollower::first() {
  start_ = Clock::now();
  const UnitLook now = co_await look(unit_);
  co_return judgeFirst(now);
}

std::optional<std::string> UnitFollower::judgeFirst(const UnitLook& now) {
  // A look relaydash could not make is no verdict: the next one sets what the unit is compared
  // with.
  if (now.starved) return std::nullopt;
  unreadable_ = !now.status;
  if (!now.status) return "its state could not be read: " + now.error;
  const UnitStatus& s = *now.status;
  if (!running(s)) return "the forwarder was not running after the restart (" + state(s) + ")";
  restarts_ = s.restarts;
  mainPid_ = s.mainPid;
  firstSeen_ = true;
  return std::nullopt;
}

Task<std::optional<std::string>> UnitFollower::next() {
  const UnitLook now = co_await look(unit_);
  if (now.starved) co_return std::nullopt;
  if (!firstSeen_) co_return judgeFirst(now);
  unreadable_ = !now.status;
  if (!now.status) co_return "its state could not be read: " + now.error;
  const UnitStatus& s = *now.status;
  if (!running(s)) {
    std::string how = "the forwarder stopped " + after(start_) + " (now " + state(s);
    if (s.result) how += ", result " + *s.result;
    co_return how + ")";
  }
  if (s.restarts != restarts_) {
    co_return "systemd restarted the forwarder " + after(start_) + " (NRestarts " +
        number(restarts_) + " → " + number(s.restarts) + ")";
  }
  if (s.mainPid != mainPid_) {
    co_return "the forwarder's process ended " + after(start_) +
        " and another took its place (PID " + number(mainPid_) + " → " + number(s.mainPid) + ")";
  }
  co_return std::nullopt;
}

Task<WatchVerdict> watchUnit(std::string unit, std::chrono::milliseconds settle,
                             std::chrono::milliseconds interval) {
  const Clock::time_point deadline = Clock::now() + settle;
  UnitFollower follower(std::move(unit));
  if (std::optional<std::string> failure = co_await follower.first())
    co_return WatchVerdict{false, std::move(*failure)};
  while (Clock::now() < deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    co_await SleepFor(std::min(interval, left));
    if (std::optional<std::string> failure = co_await follower.next())
      co_return WatchVerdict{false, std::move(*failure)};
  }
  co_return WatchVerdict{};
}

Task<bool> waitUntilRunning(std::string unit, std::chrono::milliseconds limit,
                            std::chrono::milliseconds interval) {
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    const UnitLook now = co_await look(unit);
    if (now.status && running(*now.status)) co_return true;
    if (Clock::now() >= deadline) co_return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    co_await SleepFor(std::min(interval, left));
  }
}

}  // namespace relaydash
