#include "gateway/link_verdict.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kMinute = 60 * kSecond;

// 2026-12-09 21:00:00 UTC
const std::int64_t k2100 = *parseSystemdTimestamp("2026-12-09 21:00:00 UTC");

std::int64_t at(int minute, int second = 0) {
  return k2100 + minute * kMinute + second * kSecond;
}

UnitStatus running(std::int64_t since, std::int64_t restarts = 0) {
  UnitStatus u;
  u.unit = "packet-forwarder";
  u.loadState = "loaded";
  u.activeState = "active";
  u.subState = "running";
  u.activeSince = since;
  u.stateChangedAt = since;
  u.restarts = restarts;
  u.mainPid = 812;
  return u;
}

// systemd waiting to start the forwarder again after its latest crash.
UnitStatus crashLooping(std::int64_t restarts, std::int64_t changedAt) {
  UnitStatus u = running(changedAt, restarts);
  u.activeState = "activating";
  u.subState = "auto-restart";
  u.result = "exit-code";
  u.mainPid.reset();
  return u;
}

// A report written at `time` that the journal got `lateSeconds` later.
LinkReport report(std::int64_t time, double pushAck = 100, std::int64_t forwarded = 12,
                  int lateSeconds = 1) {
  LinkReport r;
  r.time = time;
  r.arrival = time + lateSeconds * kSecond;
  r.complete = true;
  r.rfReceived = forwarded;
  r.rfForwarded = forwarded;
  r.pushDataSent = forwarded + 1;
  r.pushDataAckPercent = pushAck;
  r.pullDataSent = 3;
  r.pullDataAckPercent = 100.0;
  return r;
}

// Reports every 30 s from `first` to `last` (own times), all acknowledged.
std::vector<LinkReport> everyThirtySeconds(std::int64_t first, std::int64_t last) {
  std::vector<LinkReport> reports;
  for (std::int64_t t = first; t <= last; t += 30 * kSecond)
    reports.push_back(report(t));
  return reports;
}

LastChange changeAt(std::int64_t time, int version = 7) {
  return LastChange{version, time, "forwarder-config/apply", "admin"};
}

const VerdictCheck& check(const GatewayVerdict& v, const std::string& name) {
  for (const VerdictCheck& c : v.checks) {
    if (c.name == name) return c;
  }
  throw std::runtime_error("no check " + name);
}

TEST(GatewayVerdict, AForwarderThatRunsAndIsAcknowledgedIsGood) {
  const std::vector<LinkReport> reports = everyThirtySeconds(at(0), at(10));
  GatewayFacts f;
  f.now = at(10, 20);
  f.forwarder = running(at(-120));
  f.reports = reports;
  f.clockSynchronized = true;
  const GatewayVerdict v = judgeGateway(f);
  EXPECT_EQ(v.level, VerdictLevel::Good);
  EXPECT_EQ(v.text, "Forwarding: 12 packets in the last report, the network server acknowledges");
  EXPECT_EQ(v.logsFrom, std::nullopt);
  EXPECT_EQ(v.change, std::nullopt);
  ASSERT_EQ(v.checks.size(), 4u);
  for (const VerdictCheck& c : v.checks)
    EXPECT_EQ(c.level, VerdictLevel::Good) << c.name << ": " << c.text;
  EXPECT_EQ(check(v, "link").text,
            "The network server acknowledges: PUSH_DATA 100 %, PULL_DATA 100 %");
  EXPECT_FALSE(mayBlameChange(f));

  // A clock that is not synchronised makes it a warning, and says so on the line.
  f.clockSynchronized = false;
  const GatewayVerdict unsynced = judgeGateway(f);
  EXPECT_EQ(unsynced.level, VerdictLevel::Warning);
  EXPECT_EQ(unsynced.text,
            "Forwarding: 12 packets in the last report, the network server "
            "acknowledges, but the system clock is not synchronized");
  EXPECT_EQ(check(unsynced, "clock").level, VerdictLevel::Warning);
  // One that cannot be asked about changes nothing.
  f.clockSynchronized.reset();
  EXPECT_EQ(judgeGateway(f).level, VerdictLevel::Good);

  // Good since the server began to acknowledge again.
  std::vector<LinkReport> recovered = reports;
  recovered[5].pushDataAckPercent = 0.0;
  f.reports = recovered;
  EXPECT_EQ(judgeGateway(f).since, recovered[6].time);
}

TEST(GatewayVerdict, AStaleReportIsNeverGood) {
  // The forwarder's unit runs, and its newest report is four minutes old: hung, or its log lost.
  const std::vector<LinkReport> reports = everyThirtySeconds(at(0), at(3));
  GatewayFacts f;
  f.now = at(7);
  f.forwarder = running(at(-120));
  f.reports = reports;
  f.clockSynchronized = true;
  const GatewayVerdict v = judgeGateway(f);
  EXPECT_EQ(v.level, VerdictLevel::Warning);
  EXPECT_EQ(v.text,
            "No report from the forwarder since 21:03 (4 min ago): the forwarder writes "
            "one every 30 s");
  EXPECT_EQ(v.since, at(3));
  EXPECT_EQ(v.logsFrom, at(3) - 30 * kSecond);
  EXPECT_EQ(check(v, "reports").level, VerdictLevel::Warning);
  // What the old report says of the link is no longer known.
  EXPECT_EQ(check(v, "link").level, VerdictLevel::Unknown);
  EXPECT_EQ(check(v, "link").text,
            "The network server acknowledged in the report of 21:03, too old to tell now");

  const ReportAge age = reportAge(reports, 30, f.now);
  EXPECT_EQ(age.ageSeconds, 240);
  EXPECT_EQ(age.staleAfterSeconds, 70);
  EXPECT_TRUE(age.stale);
  EXPECT_FALSE(reportAge(reports, 30, at(3, 70)).stale);
  EXPECT_TRUE(reportAge(reports, 30, at(3, 71)).stale);
  // A longer stat_interval waits longer.
  EXPECT_FALSE(reportAge(reports, 300, f.now).stale);
  // No report in the hour at all.
  f.reports = {};
  const GatewayVerdict none = judgeGateway(f);
  EXPECT_EQ(none.level, VerdictLevel::Warning);
  EXPECT_EQ(none.text,
            "No report from the forwarder in the last hour: it should write one every "
            "30 s");
}

TEST(GatewayVerdict, TheJournalsBurstsAreNoSilence) {
  // A quiet gateway: the journal gets four reports at once, the first 100 s after it was written.
  std::vector<LinkReport> reports;
  for (int i = 0; i < 8; ++i) {
    reports.push_back(report(at(0, 30 * i), 100, 0));
    reports.back().arrival = at(0, 30 * (i / 4 * 4) + 100);
  }
  // 110 s after the newest report was written, the next burst not in yet.
  const ReportAge age = reportAge(reports, 30, reports.back().time + 110 * kSecond);
  EXPECT_EQ(age.staleAfterSeconds, 60 + 100);
  EXPECT_FALSE(age.stale);
  GatewayFacts f;
  f.now = reports.back().time + 110 * kSecond;
  f.forwarder = running(at(-120));
  f.reports = reports;
  const GatewayVerdict v = judgeGateway(f);
  EXPECT_EQ(v.level, VerdictLevel::Good);
  EXPECT_EQ(v.text,
            "Forwarding: no packet to forward in the last report, the network server "
            "acknowledges");

  // A clock set back by an hour between two reports is no delay of the journal's: the margin
  // stays within four intervals.
  reports.back().arrival += 3600 * kSecond;
  EXPECT_EQ(reportAge(reports, 30, f.now).staleAfterSeconds, 60 + 120);
  // A report dated ahead of the clock.
  f.now = reports.back().time - 10 * kMinute;
  const GatewayVerdict ahead = judgeGateway(f);
  EXPECT_EQ(ahead.level, VerdictLevel::Warning);
  EXPECT_EQ(check(ahead, "reports").text,
            "The newest report is dated 21:03, 10 min ahead of the gateway's clock");
}

TEST(GatewayVerdict, ACrashLoopIsBadAndNamesTheChangeBeforeIt) {
  // Reports every 30 s until 21:03:30; at 21:04 a change restarts the forwarder, which crashes
  // ever since: 54 restarts, no process, the last report four minutes old.
  const std::vector<LinkReport> reports = everyThirtySeconds(at(0), at(3, 30));
  GatewayFacts f;
  f.now = at(7, 40);
  f.forwarder = crashLooping(54, at(7, 38));
  f.reports = reports;
  f.clockSynchronized = true;
  EXPECT_TRUE(mayBlameChange(f));

  const GatewayVerdict plain = judgeGateway(f);
  EXPECT_EQ(plain.level, VerdictLevel::Bad);
  EXPECT_EQ(plain.text, "The forwarder has been restarting since 21:03 (54 restarts)");
  EXPECT_EQ(plain.since, at(3, 30));
  EXPECT_EQ(plain.change, std::nullopt);
  EXPECT_EQ(check(plain, "forwarder").level, VerdictLevel::Bad);

  f.lastChange = changeAt(at(4, 5));
  const GatewayVerdict v = judgeGateway(f);
  EXPECT_EQ(v.level, VerdictLevel::Bad);
  EXPECT_EQ(v.text,
            "The forwarder has been restarting since 21:04 (54 restarts) — the change at "
            "21:04 may be the cause: restore version 7");
  ASSERT_TRUE(v.change);
  EXPECT_EQ(v.change->version, 7);
  EXPECT_EQ(v.change->time, at(4, 5));
  EXPECT_EQ(v.since, at(4, 5));
  EXPECT_EQ(v.logsFrom, at(4, 5) - 30 * kSecond);

  // A change made 10 minutes before the last report, or well after the loop began, is not named.
  f.lastChange = changeAt(at(-7, 29));
  EXPECT_EQ(judgeGateway(f).change, std::nullopt);
  f.lastChange = changeAt(at(-7, 31));
  EXPECT_NE(judgeGateway(f).change, std::nullopt);
  f.lastChange = changeAt(at(6));
  EXPECT_EQ(judgeGateway(f).change, std::nullopt);

  // Active without a main process is no running forwarder either.
  f.lastChange.reset();
  f.forwarder = running(at(-120));
  f.forwarder->mainPid.reset();
  EXPECT_EQ(judgeGateway(f).level, VerdictLevel::Bad);
  EXPECT_EQ(judgeGateway(f).text, "The forwarder's unit is active without a process");

  // A forwarder systemd has just started again after a crash: bad, though it reports well.
  const std::vector<LinkReport> fresh = everyThirtySeconds(at(0), at(7, 30));
  f.reports = fresh;
  f.forwarder = running(at(7, 5), 3);
  const GatewayVerdict again = judgeGateway(f);
  EXPECT_EQ(again.level, VerdictLevel::Bad);
  EXPECT_EQ(again.text, "The forwarder restarted by itself at 21:07 (3 restarts)");
  // Long after it, the restarts of the past are history.
  f.now = at(12);
  const std::vector<LinkReport> later = everyThirtySeconds(at(0), at(11, 30));
  f.reports = later;
  EXPECT_EQ(judgeGateway(f).level, VerdictLevel::Good);
}

TEST(GatewayVerdict, AFailedOrStoppedForwarder) {
  const std::vector<LinkReport> reports = everyThirtySeconds(at(0), at(4));
  GatewayFacts f;
  f.now = at(9);
  f.forwarder = crashLooping(5, at(4, 20));
  f.forwarder->activeState = "failed";
  f.forwarder->subState = "failed";
  f.reports = reports;
  f.lastChange = changeAt(at(4, 10), 12);
  const GatewayVerdict failed = judgeGateway(f);
  EXPECT_EQ(failed.level, VerdictLevel::Bad);
  EXPECT_EQ(failed.text,
            "The forwarder stopped at 21:04 after failing (exit-code), 5 restarts "
            "before — the change at 21:04 may be the cause: restore version 12");
  EXPECT_EQ(failed.since, at(4, 20));

  // Stopped on purpose: no change is to blame.
  f.forwarder->activeState = "inactive";
  f.forwarder->subState = "dead";
  const GatewayVerdict stopped = judgeGateway(f);
  EXPECT_EQ(stopped.level, VerdictLevel::Bad);
  EXPECT_EQ(stopped.text, "The forwarder has been stopped since 21:04");
  EXPECT_EQ(stopped.change, std::nullopt);

  f.forwarder->loadState = "not-found";
  EXPECT_EQ(judgeGateway(f).text, "The forwarder's unit packet-forwarder is not installed");
}

TEST(GatewayVerdict, WhatTheNetworkServerAcknowledges) {
  std::vector<LinkReport> reports = everyThirtySeconds(at(0), at(5));
  GatewayFacts f;
  f.now = at(5, 10);
  f.forwarder = running(at(-120));
  f.clockSynchronized = true;

  // It stopped acknowledging at 21:03, a minute after a change of the server's address.
  for (std::size_t i = 6; i < reports.size(); ++i)
    reports[i].pushDataAckPercent = 0.0;
  f.reports = reports;
  f.lastChange = changeAt(at(2, 15), 3);
  EXPECT_TRUE(mayBlameChange(f));
  const GatewayVerdict lost = judgeGateway(f);
  EXPECT_EQ(lost.level, VerdictLevel::Bad);
  EXPECT_EQ(lost.text,
            "The network server does not acknowledge what the gateway sends "
            "(PUSH_DATA 0 %) — the change at 21:02 may be the cause: restore version 3");
  EXPECT_EQ(lost.since, at(3));
  EXPECT_EQ(lost.logsFrom, at(2, 15) - 30 * kSecond);

  // Part of it.
  f.lastChange.reset();
  f.reports = reports = everyThirtySeconds(at(0), at(5));
  reports.back().pushDataAckPercent = 66.67;
  f.reports = reports;
  const GatewayVerdict part = judgeGateway(f);
  EXPECT_EQ(part.level, VerdictLevel::Warning);
  EXPECT_EQ(part.text,
            "The network server acknowledges only part of what the gateway sends "
            "(PUSH_DATA 66.7 %)");

  // PULL_DATA counts only when some was sent: the forwarder prints 0.00 % for none.
  reports.back().pushDataAckPercent = 100;
  reports.back().pullDataSent = 0;
  reports.back().pullDataAckPercent = 0.0;
  f.reports = reports;
  const GatewayVerdict noPull = judgeGateway(f);
  EXPECT_EQ(noPull.level, VerdictLevel::Good);
  EXPECT_EQ(check(noPull, "link").text,
            "The network server acknowledges: PUSH_DATA 100 %, PULL_DATA none sent");
  // Keep-alives sent and not answered: no downlink reaches the devices.
  reports.back().pullDataSent = 2;
  f.reports = reports;
  const GatewayVerdict noDown = judgeGateway(f);
  EXPECT_EQ(noDown.level, VerdictLevel::Bad);
  EXPECT_EQ(noDown.text,
            "The network server does not answer the gateway's keep-alives "
            "(PULL_DATA 0 %): no downlink reaches the devices");
  // Nothing sent at all says nothing.
  reports.back().pushDataSent = 0;
  reports.back().pullDataSent = 0;
  f.reports = reports;
  const GatewayVerdict silent = judgeGateway(f);
  EXPECT_EQ(silent.level, VerdictLevel::Unknown);
  EXPECT_EQ(silent.text, "Nothing was sent to the network server in the latest report");
}

TEST(GatewayVerdict, WhatItCannotKnow) {
  // Without the forwarder's unit there are neither unit nor reports: only the clock is known.
  GatewayFacts f;
  f.now = at(5);
  f.clockSynchronized = true;
  const GatewayVerdict v = judgeGateway(f);
  EXPECT_EQ(v.level, VerdictLevel::Unknown);
  EXPECT_EQ(v.text,
            "relaydash was started without the forwarder's unit name, so it cannot see "
            "whether the forwarder runs");
  EXPECT_EQ(check(v, "reports").level, VerdictLevel::Unknown);
  EXPECT_EQ(check(v, "link").level, VerdictLevel::Unknown);
  EXPECT_EQ(check(v, "clock").level, VerdictLevel::Good);
  f.clockSynchronized = false;
  EXPECT_EQ(judgeGateway(f).level, VerdictLevel::Warning);

  // A forwarder restarted by an apply a moment ago: its first report is not due yet.
  const std::vector<LinkReport> reports = everyThirtySeconds(at(0), at(4));
  f.clockSynchronized = true;
  f.forwarder = running(at(4, 10));
  f.reports = reports;
  f.now = at(5, 15);
  const GatewayVerdict waiting = judgeGateway(f);
  EXPECT_EQ(waiting.level, VerdictLevel::Unknown);
  EXPECT_EQ(waiting.text,
            "Waiting for the first report since the forwarder started at 21:04: the "
            "forwarder writes one every 30 s");
  f.now = at(5, 21);
  EXPECT_EQ(judgeGateway(f).level, VerdictLevel::Warning);

  // A log that cannot be read.
  f.reports = {};
  f.journalRead = false;
  const GatewayVerdict unread = judgeGateway(f);
  EXPECT_EQ(unread.level, VerdictLevel::Unknown);
  EXPECT_EQ(unread.text, "The forwarder's log cannot be read");
}

}  // namespace
}  // namespace relaydash
