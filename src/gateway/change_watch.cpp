#include "gateway/change_watch.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "gateway/command.hpp"
#include "gateway/unit_watch.hpp"
#include "runtime/event_loop.hpp"

namespace relaydash {
namespace {

using Clock = EventLoop::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The reports are read at most this often: each read runs journalctl.
constexpr milliseconds kReportLookEvery{3000};
// Reports before the restart that tell what the network server did before it.
constexpr seconds kLookBack{120};

std::chrono::seconds secondsMember(const JsonNode& section, std::string_view name,
                                   std::chrono::seconds fallback) {
  const JsonNodePtr value = section.get(name);
  if (!value || !value->isInt() || value->getInt() < 1 || value->getInt() > 86'400) return fallback;
  return std::chrono::seconds(value->getInt());
}

std::string secondsText(milliseconds duration) {
  return std::to_string((duration.count() + 999) / 1000) + " s";
}

}  // namespace

ForwarderTiming timingOf(const JsonNode& document) {
  ForwarderTiming timing;
  const JsonNodePtr gateway = document.isObject() ? document.get("gateway_conf") : nullptr;
  if (!gateway || !gateway->isObject()) return timing;
  timing.statInterval = secondsMember(*gateway, "stat_interval", timing.statInterval);
  timing.keepalive = secondsMember(*gateway, "keepalive_interval", timing.keepalive);
  if (const JsonNodePtr quit = gateway->get("autoquit_threshold");
      quit && quit->isInt() && quit->getInt() > 0 && quit->getInt() < 1000) {
    timing.autoquitThreshold = static_cast<int>(quit->getInt());
  }
  return timing;
}

std::chrono::milliseconds processWatchFor(const WatchPlan& plan) {
  milliseconds watch = plan.settle;
  if (plan.timing.autoquitThreshold > 0) {
    // It counts the keep-alives left unanswered and looks at the count as it reports.
    const milliseconds quits = plan.timing.keepalive * (plan.timing.autoquitThreshold + 1) +
                               plan.timing.statInterval * 2 + plan.reportMargin;
    watch = std::max(watch, quits);
  }
  return watch;
}

std::chrono::milliseconds reportWaitFor(const WatchPlan& plan) {
  return std::max<milliseconds>(plan.settle, plan.timing.statInterval + plan.reportMargin);
}

std::string_view rollbackCauseName(RollbackCause cause) {
  switch (cause) {
    case RollbackCause::RestartFailed:
      return "restart-failed";
    case RollbackCause::Stopped:
      return "stopped";
    case RollbackCause::Unreadable:
      return "unreadable";
    case RollbackCause::Link:
      return "link";
  }
  return "stopped";
}

Task<ChangeVerdict> watchChange(WatchPlan plan, std::function<void(std::string)> waiting) {
  const auto tell = [&waiting](std::string what) {
    if (waiting) waiting(std::move(what));
  };
  const Clock::time_point start = Clock::now();
  const Clock::time_point processUntil = start + processWatchFor(plan);
  const Clock::time_point reportUntil = start + reportWaitFor(plan);
  ChangeVerdict verdict;
  UnitFollower follower(plan.unit);
  if (std::optional<std::string> failure = co_await follower.first()) {
    verdict.healthy = false;
    verdict.cause = follower.unreadable() ? RollbackCause::Unreadable : RollbackCause::Stopped;
    verdict.reason = std::move(*failure);
    co_return verdict;
  }
  bool judged = !plan.link;
  if (!plan.link) verdict.link = "only the forwarder's process was watched, not its link";
  std::string journalError;
  // The first look at once: the reports from before the restart are in the journal by now (the
  // old process's buffered output was written as it exited), and when the network server
  // acknowledged nothing in them there is nothing to wait for.
  Clock::time_point nextReportLook = start;
  bool firstLook = true;
  bool lookedAgain = false;
  tell(judged ? "" : "the forwarder's first statistics report after the restart");
  for (;;) {
    const Clock::time_point now = Clock::now();
    const bool reportsDue = !judged && (now >= nextReportLook || now >= reportUntil);
    if (reportsDue) {
      nextReportLook = now + std::min(kReportLookEvery, plan.interval * 3);
      const auto since = std::chrono::duration_cast<seconds>(now - start) + kLookBack +
                         plan.timing.statInterval * 2;
      try {
        const std::vector<LinkReport> reports =
            co_await readLinkReports(plan.unit, static_cast<int>(since.count()));
        const LinkBefore before = linkBefore(reports, plan.restartedAtUtc);
        const LinkAfter after = linkAfter(before, reports, plan.restartedAtUtc);
        const bool ackedBefore = (before.pushAckPercent && *before.pushAckPercent > 0) ||
                                 (before.pullAckPercent && *before.pullAckPercent > 0);
        if (after.state == LinkAfter::State::Waiting && firstLook && !ackedBefore) {
          judged = true;
          verdict.link = before.pushAckPercent || before.pullAckPercent
                             ? "the network server acknowledged nothing in the last report "
                               "before the change, so there was no link to compare with"
                             : "no statistics report of the forwarder from before the change "
                               "was found, so there was no link to compare with";
          tell("");
        }
        firstLook = false;
        if (after.state == LinkAfter::State::Lost) {
          verdict.healthy = false;
          verdict.cause = RollbackCause::Link;
          verdict.reason = after.text;
          verdict.link = after.text;
          co_return verdict;
        }
        if (after.state == LinkAfter::State::Kept) {
          judged = true;
          verdict.link = after.text;
          tell("");
        }
      } catch (const CommandError& e) {
        journalError = e.what();
      }
    }
    const Clock::time_point until = judged ? processUntil : std::max(processUntil, reportUntil);
    // The unit is looked at once more after the first look however long that took (a slow
    // systemctl on a busy board): a forwarder that crashes right after it started is seen so.
    if (Clock::now() >= until && lookedAgain) break;
    const auto left =
        std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(until - Clock::now()));
    co_await SleepFor(std::min(plan.interval, left));
    if (std::optional<std::string> failure = co_await follower.next()) {
      verdict.healthy = false;
      verdict.cause = follower.unreadable() ? RollbackCause::Unreadable : RollbackCause::Stopped;
      verdict.reason = std::move(*failure);
      if (verdict.link.empty()) verdict.link = "the forwarder stopped before it reported";
      co_return verdict;
    }
    lookedAgain = true;
  }
  if (!judged) {
    verdict.link = !journalError.empty()
                       ? "the forwarder's journal could not be read (" + journalError +
                             "), so the link could not be judged"
                       : "no statistics report of the forwarder reached the journal within " +
                             secondsText(reportWaitFor(plan)) +
                             " of the restart, so the link could not be judged";
  }
  co_return verdict;
}

}  // namespace relaydash
