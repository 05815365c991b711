#include "gateway/link_verdict.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kMinute = 60 * kSecond;
// The least and the most the journal's bursts are allowed to delay a report beyond two
// intervals before it counts as stale.
constexpr std::int64_t kLeastMargin = 10;  // seconds
constexpr int kMostMarginIntervals = 4;
// A change this long before the trouble began may have caused it.
constexpr std::int64_t kBlameWindow = 10 * kMinute;
// The acknowledgement rates that are good, and below which the server does not answer.
constexpr double kAckGood = 90;
constexpr double kAckPoor = 50;

// "21:05"
std::string clockText(std::int64_t micros) {
  return formatIsoUtc(micros).substr(11, 5);
}

// "45 s", "4 min", "2 h 5 min"
std::string durationText(std::int64_t seconds) {
  if (seconds < 60) return std::to_string(std::max<std::int64_t>(seconds, 0)) + " s";
  if (seconds < 3600) return std::to_string(seconds / 60) + " min";
  return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

// "100 %", "66.7 %": as the forwarder's two decimals read at a glance.
std::string ackText(double percent) {
  char text[32];
  if (percent >= 99.95 || percent < 0.05 || percent == std::floor(percent)) {
    std::snprintf(text, sizeof text, "%.0f %%", percent);
  } else {
    std::snprintf(text, sizeof text, "%.1f %%", percent);
  }
  return text;
}

int rank(VerdictLevel level) {
  switch (level) {
    case VerdictLevel::Good:
      return 0;
    case VerdictLevel::Unknown:
      return 1;
    case VerdictLevel::Warning:
      return 2;
    case VerdictLevel::Bad:
      return 3;
  }
  return 1;
}

VerdictLevel ackLevel(double percent) {
  if (percent >= kAckGood) return VerdictLevel::Good;
  if (percent >= kAckPoor) return VerdictLevel::Warning;
  return VerdictLevel::Bad;
}

// What the network server did with one report's datagrams. Only datagrams that were sent say
// anything: the forwarder prints 0 % for a kind it did not send in the interval.
struct Acks {
  std::optional<double> push, pull;
  bool judged() const { return push || pull; }
  VerdictLevel level() const {
    VerdictLevel worst = VerdictLevel::Good;
    for (const auto& a : {push, pull}) {
      if (a && rank(ackLevel(*a)) > rank(worst)) worst = ackLevel(*a);
    }
    return worst;
  }
};

Acks acksOf(const LinkReport& r) {
  Acks acks;
  if (r.pushDataSent.value_or(0) > 0) acks.push = r.pushDataAckPercent;
  if (r.pullDataSent.value_or(0) > 0) acks.pull = r.pullDataAckPercent;
  return acks;
}

// How the forwarder's unit runs.
enum class Run {
  NoUnit,
  Unread,           // systemd could not be asked
  Missing,          // not installed, or masked
  Failed,           // stopped after failing
  Stopped,          // stopped on purpose
  Restarting,       // between two restarts of a crash loop, or starting again after a crash
  NoProcess,        // active without a main process
  RestartedItself,  // running again after a crash, only just
  Starting,
  Stopping,
  Running,
  Other,
};

bool failing(Run run) {
  return run == Run::Failed || run == Run::Restarting || run == Run::NoProcess ||
         run == Run::RestartedItself;
}

// Everything but the change to blame.
struct Assessment {
  Run run = Run::NoUnit;
  ReportAge age;
  VerdictCheck forwarder{"forwarder", VerdictLevel::Unknown, {}};
  VerdictCheck reports{"reports", VerdictLevel::Unknown, {}};
  VerdictCheck link{"link", VerdictLevel::Unknown, {}};
  VerdictCheck clock{"clock", VerdictLevel::Unknown, {}};
  std::optional<std::int64_t> forwarderSince, reportsSince, linkSince, goodSince;
  // When the trouble a change may have caused began, and how long after it the change may
  // still have come; nullopt when there is no such trouble.
  std::optional<std::int64_t> troubleStart;
  std::int64_t troubleSlack = 0;
};

std::string restartsText(const UnitStatus& u) {
  if (!u.restarts || *u.restarts == 0) return {};
  return *u.restarts == 1 ? "1 restart" : std::to_string(*u.restarts) + " restarts";
}

void judgeForwarder(const GatewayFacts& f, Assessment& a) {
  VerdictCheck& c = a.forwarder;
  if (!f.unitRead) {
    a.run = Run::Unread;
    c = {"forwarder", VerdictLevel::Unknown, "systemd cannot be asked whether the forwarder runs"};
    return;
  }
  if (!f.forwarder) {
    a.run = Run::NoUnit;
    c = {"forwarder", VerdictLevel::Unknown,
         "relaydash was started without the forwarder's unit name, so it cannot see whether the "
         "forwarder runs"};
    return;
  }
  const UnitStatus& u = *f.forwarder;
  const std::string restarts = restartsText(u);
  const bool young =
      u.activeSince && f.now - *u.activeSince <= 2 * a.age.staleAfterSeconds * kSecond;
  if (u.loadState == "not-found" || u.loadState == "masked") {
    a.run = Run::Missing;
    c = {"forwarder", VerdictLevel::Bad,
         "The forwarder's unit " + u.unit +
             (u.loadState == "masked" ? " is masked: it cannot start" : " is not installed")};
  } else if (u.activeState == "failed") {
    a.run = Run::Failed;
    a.forwarderSince = u.stateChangedAt;
    std::string text = "The forwarder stopped";
    if (u.stateChangedAt) text += " at " + clockText(*u.stateChangedAt);
    text += " after failing";
    if (u.result && *u.result != "success") text += " (" + *u.result + ")";
    if (!restarts.empty()) text += ", " + restarts + " before";
    c = {"forwarder", VerdictLevel::Bad, std::move(text)};
  } else if (u.subState == "auto-restart" ||
             (u.activeState == "activating" && u.restarts.value_or(0) > 0)) {
    a.run = Run::Restarting;
  } else if (u.activeState == "active" && !u.mainPid) {
    a.run = Run::NoProcess;
  } else if (u.activeState == "active" && u.restarts.value_or(0) > 0 && young) {
    a.run = Run::RestartedItself;
    a.forwarderSince = u.activeSince;
    c = {"forwarder", VerdictLevel::Bad,
         "The forwarder restarted by itself at " + clockText(*u.activeSince) + " (" + restarts +
             ")"};
  } else if (u.activeState == "active") {
    a.run = Run::Running;
    // A clock time says when only within the day.
    const bool today = u.activeSince && f.now - *u.activeSince < 24 * 60 * kMinute;
    c = {"forwarder", VerdictLevel::Good,
         today ? "The forwarder has been running since " + clockText(*u.activeSince)
               : "The forwarder runs"};
  } else if (u.activeState == "activating") {
    a.run = Run::Starting;
    c = {"forwarder", VerdictLevel::Warning, "The forwarder is starting"};
  } else if (u.activeState == "inactive") {
    a.run = Run::Stopped;
    a.forwarderSince = u.stateChangedAt;
    c = {"forwarder", VerdictLevel::Bad,
         u.stateChangedAt ? "The forwarder has been stopped since " + clockText(*u.stateChangedAt)
                          : "The forwarder is stopped"};
  } else if (u.activeState == "deactivating") {
    a.run = Run::Stopping;
    c = {"forwarder", VerdictLevel::Warning, "The forwarder is stopping"};
  } else {
    a.run = Run::Other;
    c = {
        "forwarder", VerdictLevel::Warning,
        "The forwarder's unit is " + (u.activeState.empty() ? "in no known state" : u.activeState)};
  }
  if (a.run == Run::Restarting || a.run == Run::NoProcess) {
    // Nothing shows when the loop began; the last report before a silence shows when the
    // forwarder was last heard working.
    if (!f.reports.empty() && a.age.stale) a.forwarderSince = f.reports.back().time;
    std::string text = a.run == Run::NoProcess ? "The forwarder's unit is active without a process"
                       : a.forwarderSince      ? "The forwarder has been restarting since " +
                                                clockText(*a.forwarderSince)
                                          : "The forwarder keeps restarting";
    if (!restarts.empty()) text += " (" + restarts + ")";
    c = {"forwarder", VerdictLevel::Bad, std::move(text)};
  }
  // When the trouble began, for a change made shortly before it.
  if (a.run == Run::Failed) {
    a.troubleStart = u.stateChangedAt.value_or(f.now);
  } else if (a.run == Run::RestartedItself) {
    a.troubleStart = u.activeSince;
  } else if (a.run == Run::Restarting || a.run == Run::NoProcess) {
    // The change that started the loop came after the last report before it, up to an interval
    // (and the journal's delay) later.
    a.troubleStart = a.forwarderSince.value_or(f.now);
    if (a.forwarderSince) a.troubleSlack = a.age.staleAfterSeconds * kSecond;
  }
}

void judgeReports(const GatewayFacts& f, Assessment& a) {
  VerdictCheck& c = a.reports;
  const std::string every =
      "the forwarder writes one every " + std::to_string(a.age.statIntervalSeconds) + " s";
  const UnitStatus* u = f.forwarder ? &*f.forwarder : nullptr;
  // The forwarder started so recently that its first report may not be in yet.
  const auto startedAfter = [&](std::optional<std::int64_t> time) {
    return a.run == Run::Running && u->activeSince && (!time || *u->activeSince > *time) &&
           f.now - *u->activeSince <= a.age.staleAfterSeconds * kSecond;
  };
  if (a.run == Run::NoUnit) {
    c.text = "Without the forwarder's unit name relaydash cannot read its reports";
  } else if (!f.journalRead) {
    c.text = "The forwarder's log cannot be read";
  } else if (f.reports.empty()) {
    if (startedAfter(std::nullopt)) {
      c.text = "Waiting for the forwarder's first report: " + every;
    } else {
      c = {"reports", VerdictLevel::Warning,
           "No report from the forwarder in the last hour: it should write one every " +
               std::to_string(a.age.statIntervalSeconds) + " s"};
    }
  } else {
    const LinkReport& latest = f.reports.back();
    const std::int64_t age = a.age.ageSeconds.value_or(0);
    if (age < -a.age.staleAfterSeconds) {
      c = {"reports", VerdictLevel::Warning,
           "The newest report is dated " + clockText(latest.time) + ", " + durationText(-age) +
               " ahead of the gateway's clock"};
    } else if (!a.age.stale) {
      c = {"reports", VerdictLevel::Good,
           "Latest report at " + clockText(latest.time) + " (" +
               durationText(std::max<std::int64_t>(age, 0)) + " ago); " + every};
    } else if (startedAfter(latest.time)) {
      c.text = "Waiting for the first report since the forwarder started at " +
               clockText(*u->activeSince) + ": " + every;
    } else {
      a.reportsSince = latest.time;
      c = {"reports", VerdictLevel::Warning,
           "No report from the forwarder since " + clockText(latest.time) + " (" +
               durationText(age) + " ago): " + every};
    }
  }
}

void judgeLink(const GatewayFacts& f, Assessment& a) {
  VerdictCheck& c = a.link;
  if (f.reports.empty()) {
    c.text = "No report tells whether the network server acknowledges";
    return;
  }
  const LinkReport& latest = f.reports.back();
  const Acks acks = acksOf(latest);
  if (!acks.judged()) {
    c.text = "Nothing was sent to the network server in the latest report";
    return;
  }
  c.level = acks.level();
  const std::string push = acks.push ? "PUSH_DATA " + ackText(*acks.push) : "";
  const std::string pull =
      acks.pull ? "PULL_DATA " + ackText(*acks.pull) : std::string("PULL_DATA none sent");
  const bool pushFine = !acks.push || ackLevel(*acks.push) == VerdictLevel::Good;
  if (c.level == VerdictLevel::Good) {
    c.text = "The network server acknowledges: " + (push.empty() ? pull : push + ", " + pull);
  } else if (!pushFine) {
    c.text =
        ackLevel(*acks.push) == VerdictLevel::Bad
            ? "The network server does not acknowledge what the gateway sends (" + push + ")"
            : "The network server acknowledges only part of what the gateway sends (" + push + ")";
  } else {
    c.text =
        ackLevel(*acks.pull) == VerdictLevel::Bad
            ? "The network server does not answer the gateway's keep-alives (" + pull +
                  "): no downlink reaches the devices"
            : "The network server answers only part of the gateway's keep-alives (" + pull + ")";
  }
  // The reports since the link last was good: when it turned, or how long it has been good.
  std::size_t first = f.reports.size() - 1;
  for (std::size_t i = f.reports.size(); i-- > 0;) {
    const Acks earlier = acksOf(f.reports[i]);
    if (!earlier.judged()) continue;
    if ((earlier.level() == VerdictLevel::Good) != (c.level == VerdictLevel::Good)) break;
    first = i;
  }
  if (c.level != VerdictLevel::Good) {
    a.linkSince = f.reports[first].time;
    if (c.level == VerdictLevel::Bad) a.troubleStart = a.troubleStart.value_or(*a.linkSince);
  } else if (first > 0) {
    a.goodSince = f.reports[first].time;
  } else if (f.forwarder && f.forwarder->activeSince &&
             *f.forwarder->activeSince >=
                 f.reports.front().time - a.age.staleAfterSeconds * kSecond) {
    // Good for as long as the journal shows, and the forwarder started within it.
    a.goodSince = f.forwarder->activeSince;
  }
  if (a.age.stale) {
    if (c.level == VerdictLevel::Good) {
      c = {"link", VerdictLevel::Unknown,
           "The network server acknowledged in the report of " + clockText(latest.time) +
               ", too old to tell now"};
    } else {
      c.text += " in the report of " + clockText(latest.time);
    }
  }
}

void judgeClock(const GatewayFacts& f, Assessment& a) {
  if (!f.clockSynchronized) {
    a.clock.text = "Whether the system clock is synchronized cannot be told";
  } else if (*f.clockSynchronized) {
    a.clock = {"clock", VerdictLevel::Good, "The system clock is synchronized"};
  } else {
    a.clock = {"clock", VerdictLevel::Warning,
               "The system clock is not synchronized: the times of reports and packets may be "
               "wrong"};
  }
}

Assessment assess(const GatewayFacts& f) {
  Assessment a;
  a.age = reportAge(f.reports, f.statIntervalSeconds, f.now);
  judgeForwarder(f, a);
  judgeReports(f, a);
  judgeLink(f, a);
  judgeClock(f, a);
  return a;
}

// The change when it came shortly before the trouble began.
std::optional<LastChange> suspect(const GatewayFacts& f, const Assessment& a) {
  if (!f.lastChange || !a.troubleStart) return std::nullopt;
  const std::int64_t t = f.lastChange->time;
  if (t > f.now || t < *a.troubleStart - kBlameWindow || t > *a.troubleStart + a.troubleSlack)
    return std::nullopt;
  return f.lastChange;
}

std::string packetsText(const LinkReport& r) {
  if (!r.rfForwarded) return "running";
  if (*r.rfForwarded == 0) return "no packet to forward in the last report";
  return std::to_string(*r.rfForwarded) + (*r.rfForwarded == 1 ? " packet" : " packets") +
         " in the last report";
}

}  // namespace

ReportAge reportAge(std::span<const LinkReport> reports, int statIntervalSeconds,
                    std::int64_t nowMicros) {
  ReportAge age;
  age.statIntervalSeconds = statIntervalSeconds > 0 ? statIntervalSeconds : kDefaultStatInterval;
  std::int64_t margin = kLeastMargin;
  for (const LinkReport& r : reports)
    margin = std::max(margin, (r.arrival - r.time) / kSecond);
  margin =
      std::min<std::int64_t>(margin, std::int64_t{kMostMarginIntervals} * age.statIntervalSeconds);
  age.staleAfterSeconds =
      2 * std::int64_t{age.statIntervalSeconds} + std::max(margin, kLeastMargin);
  if (!reports.empty()) {
    // Rounded down, as a clock shows seconds.
    const std::int64_t micros = nowMicros - reports.back().time;
    age.ageSeconds = micros >= 0 ? micros / kSecond : -((-micros + kSecond - 1) / kSecond);
    age.stale = *age.ageSeconds > age.staleAfterSeconds;
  }
  return age;
}

bool mayBlameChange(const GatewayFacts& facts) {
  return assess(facts).troubleStart.has_value();
}

GatewayVerdict judgeGateway(const GatewayFacts& f) {
  const Assessment a = assess(f);
  GatewayVerdict v;
  v.checks = {a.forwarder, a.reports, a.link, a.clock};
  const VerdictCheck* const main[] = {&a.forwarder, &a.reports, &a.link};
  const auto any = [&main](VerdictLevel level) {
    return std::any_of(std::begin(main), std::end(main),
                       [level](const VerdictCheck* c) { return c->level == level; });
  };
  const bool clockWrong = a.clock.level == VerdictLevel::Warning;
  if (any(VerdictLevel::Bad)) {
    v.level = VerdictLevel::Bad;
  } else if (any(VerdictLevel::Warning) || clockWrong) {
    v.level = VerdictLevel::Warning;
  } else if (any(VerdictLevel::Unknown)) {
    v.level = VerdictLevel::Unknown;
  } else {
    v.level = VerdictLevel::Good;
  }

  // The one line: the forwarder first, then its reports, then the link.
  const std::optional<LastChange> change = suspect(f, a);
  bool blamed = false;
  const auto troubled = [](const VerdictCheck& c) {
    return c.level == VerdictLevel::Bad || c.level == VerdictLevel::Warning;
  };
  if (troubled(a.forwarder)) {
    v.since = a.forwarderSince;
    v.text = a.forwarder.text;
    blamed = change && failing(a.run);
    if (blamed && (a.run == Run::Restarting || a.run == Run::NoProcess) &&
        (!v.since || *v.since < change->time)) {
      // The loop began with the change's restart, after the last report before it.
      v.since = change->time;
      if (a.run == Run::Restarting) {
        v.text = "The forwarder has been restarting since " + clockText(change->time);
        if (const std::string n = restartsText(*f.forwarder); !n.empty()) v.text += " (" + n + ")";
      }
    }
  } else if (troubled(a.reports)) {
    v.since = a.reportsSince;
    v.text = a.reports.text;
  } else if (troubled(a.link)) {
    v.since = a.linkSince;
    v.text = a.link.text;
    blamed = change && a.link.level == VerdictLevel::Bad;
  } else if (any(VerdictLevel::Unknown)) {
    for (const VerdictCheck* c : main) {
      if (c->level == VerdictLevel::Unknown) {
        v.text = c->text;
        break;
      }
    }
    if (clockWrong) v.text += "; the system clock is not synchronized";
  } else {
    v.since = clockWrong ? std::nullopt : a.goodSince;
    v.text = "Forwarding: " + packetsText(f.reports.back()) + ", the network server acknowledges";
    if (clockWrong) v.text += ", but the system clock is not synchronized";
  }
  if (blamed) {
    v.change = change;
    v.text += " — the change at " + clockText(change->time) +
              " may be the cause: restore version " + std::to_string(change->version);
  }
  // The log from an interval before it began: the lines that explain it come just before.
  const std::int64_t interval = std::int64_t{a.age.statIntervalSeconds} * kSecond;
  if (v.level == VerdictLevel::Bad || v.level == VerdictLevel::Warning) {
    if (v.change) {
      v.logsFrom = v.change->time - interval;
    } else if (v.since) {
      v.logsFrom = *v.since - interval;
    }
  }
  return v;
}

const char* levelName(VerdictLevel level) {
  switch (level) {
    case VerdictLevel::Good:
      return "good";
    case VerdictLevel::Warning:
      return "warning";
    case VerdictLevel::Bad:
      return "bad";
    case VerdictLevel::Unknown:
      return "unknown";
  }
  return "unknown";
}

}  // namespace relaydash
