#include "gateway/link_judgement.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace relaydash {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kChange = 1'765'000'000 * kSecond;

// A report `seconds` from the change (negative: before it), as the forwarder counted it.
LinkReport report(int seconds, std::int64_t pushSent, double pushAck, std::int64_t pullSent,
                  double pullAck) {
  LinkReport r;
  r.time = kChange + seconds * kSecond;
  r.pushDataSent = pushSent;
  r.pushDataAckPercent = pushAck;
  r.pullDataSent = pullSent;
  r.pullDataAckPercent = pullAck;
  return r;
}

TEST(LinkJudgement, AServerThatStopsAnsweringAfterTheChangeIsALostLink) {
  const std::vector<LinkReport> reports{report(-60, 5, 100, 3, 100), report(-30, 4, 100, 3, 100),
                                        report(28, 4, 0, 3, 0), report(58, 6, 0, 3, 0)};
  const LinkBefore before = linkBefore(reports, kChange);
  EXPECT_EQ(before.pushAckPercent, 100);
  EXPECT_EQ(before.pullAckPercent, 100);
  const LinkAfter after = linkAfter(before, reports, kChange);
  EXPECT_EQ(after.state, LinkAfter::State::Lost);
  EXPECT_EQ(after.text,
            "the network server stopped acknowledging after the change: PUSH_DATA acknowledged "
            "0 % (100 % before), PULL_DATA acknowledged 0 % (100 % before) in the first report "
            "after the change");

  // Only one kind lost is enough; a partial answer is not a lost link.
  EXPECT_EQ(linkAfter(before, {report(28, 4, 100, 3, 0)}, kChange).state, LinkAfter::State::Lost);
  const LinkAfter partly = linkAfter(before, {report(28, 4, 75, 3, 66.6667)}, kChange);
  EXPECT_EQ(partly.state, LinkAfter::State::Kept);
  EXPECT_EQ(partly.text,
            "PUSH_DATA acknowledged 75 %, PULL_DATA acknowledged 66.7 % in the first report "
            "after the change");
}

TEST(LinkJudgement, AKindTheForwarderDidNotSendSaysNothing) {
  // The forwarder prints 0 % for PULL_DATA when it sent none in the interval (a keep-alive
  // longer than the report interval), and the report a restart leaves may have sent nothing.
  const std::vector<LinkReport> before{report(-30, 4, 100, 3, 100)};
  const LinkBefore b = linkBefore(before, kChange);
  EXPECT_EQ(linkAfter(b, {report(5, 0, 0, 0, 0)}, kChange).state, LinkAfter::State::Waiting);
  const LinkAfter noPull = linkAfter(b, {report(5, 0, 0, 0, 0), report(35, 3, 100, 0, 0)}, kChange);
  EXPECT_EQ(noPull.state, LinkAfter::State::Kept);
  EXPECT_EQ(noPull.text, "PUSH_DATA acknowledged 100 % in the first report after the change");
  const LinkAfter noPush = linkAfter(b, {report(35, 0, 0, 1, 100)}, kChange);
  EXPECT_EQ(noPush.state, LinkAfter::State::Kept);
  EXPECT_EQ(noPush.text,
            "PULL_DATA acknowledged 100 % in the first report after the change (it sent no "
            "PUSH_DATA)");

  // Before the change too, the last report that sent a kind is what counts.
  const LinkBefore mixed = linkBefore(
      {report(-60, 2, 100, 3, 100), report(-30, 0, 0, 0, 0), report(10, 9, 0, 9, 0)}, kChange);
  EXPECT_EQ(mixed.pushAckPercent, 100);
  EXPECT_EQ(mixed.pullAckPercent, 100);
}

TEST(LinkJudgement, ALinkThatNeverWorkedIsNotLostByTheChange) {
  const std::vector<LinkReport> reports{report(-30, 4, 0, 3, 0), report(30, 4, 0, 3, 0)};
  const LinkAfter after = linkAfter(linkBefore(reports, kChange), reports, kChange);
  EXPECT_EQ(after.state, LinkAfter::State::Kept);
  EXPECT_EQ(after.text,
            "PUSH_DATA acknowledged 0 %, PULL_DATA acknowledged 0 % in the first report after "
            "the change; the network server did not acknowledge before it either");
  // No report before the change at all: nothing to lose either.
  EXPECT_EQ(linkAfter(LinkBefore{}, {report(30, 4, 0, 3, 0)}, kChange).state,
            LinkAfter::State::Kept);
}

}  // namespace
}  // namespace relaydash
