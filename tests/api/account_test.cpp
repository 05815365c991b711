// Sessions through the whole application: sign-in slowed for an address that keeps failing,
// tokens that end, and what each answer looks like on the wire meanwhile.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::kDone;
using testing::LoopbackClient;
using testing::Reply;
using ManagementApi = testing::ManagementApi;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kWrong = R"({"username":"admin","password":"guess"})";
const std::string kRight = R"({"username":"admin","password":"quilm"})";

std::string request(const std::string& body) {
  return "POST /rpc/v1/login/password HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

TEST_F(ManagementApi, AnAddressThatKeepsFailingIsHeldBeforeEachAttemptWithTheSameAnswers) {
  // Long enough to tell apart from an answer given at once, even on a loaded machine.
  constexpr auto kHold = 700ms;
  context->signIns.setHold(kHold);
  const auto timed = [this](const std::string& body, std::string& answer) {
    const auto start = Clock::now();
    answer = post("/rpc/v1/login/password", body);
    return Clock::now() - start;
  };

  std::string first;
  EXPECT_LT(timed(kWrong, first), kHold);
  EXPECT_EQ(first.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << first;
  std::string answer;
  for (int i = 2; i <= 5; ++i) {
    EXPECT_LT(timed(kWrong, answer), kHold) << i;
    EXPECT_EQ(answer, first) << i;
  }
  const auto sixth = timed(kWrong, answer);
  EXPECT_GE(sixth, kHold);
  EXPECT_LT(sixth, kHold + 2s);
  EXPECT_EQ(answer, first);

  // The right password waits too, and its success clears the address.
  EXPECT_GE(timed(kRight, answer), kHold);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_LT(timed(kWrong, answer), kHold);
  EXPECT_EQ(answer, first);
}

TEST_F(ManagementApi, ManyConnectionsFromAHeldAddressGetOneAttemptAtATimeAndTheRestNoAnswer) {
  constexpr auto kHold = 200ms;
  context->signIns.setHold(kHold);
  const std::string first = post("/rpc/v1/login/password", kWrong);
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(post("/rpc/v1/login/password", kWrong), first);

  constexpr std::size_t kConnections = 40;
  const auto start = Clock::now();
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (std::size_t i = 0; i < kConnections; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(thread->port()));
    clients.back()->send(request(kWrong));
  }
  // When each connection was answered or closed, watching all of them at once.
  std::vector<Clock::duration> ended(kConnections, Clock::duration::max());
  std::vector<std::string> answers(kConnections);
  for (std::size_t open = kConnections; open > 0 && Clock::now() - start < 10s;) {
    std::vector<pollfd> watched;
    for (std::size_t i = 0; i < kConnections; ++i)
      if (ended[i] == Clock::duration::max()) watched.push_back({clients[i]->fd(), POLLIN, 0});
    ASSERT_GT(::poll(watched.data(), watched.size(), 10'000), 0);
    for (std::size_t i = 0; i < kConnections; ++i) {
      if (ended[i] != Clock::duration::max()) continue;
      pollfd check{clients[i]->fd(), POLLIN, 0};
      if (::poll(&check, 1, 0) <= 0) continue;
      answers[i] = clients[i]->readAnswer();
      ended[i] = Clock::now() - start;
      --open;
    }
  }

  std::vector<Clock::duration> answeredAt;
  for (std::size_t i = 0; i < kConnections; ++i) {
    ASSERT_NE(ended[i], Clock::duration::max()) << i;
    if (answers[i].empty()) {
      EXPECT_TRUE(clients[i]->closedByPeer()) << i;
      continue;
    }
    EXPECT_EQ(answers[i], first) << i;
    answeredAt.push_back(ended[i]);
  }
  ASSERT_EQ(answeredAt.size(), SignInThrottle::kMaxWaitingPerAddress);
  std::sort(answeredAt.begin(), answeredAt.end());
  for (std::size_t i = 0; i < answeredAt.size(); ++i) {
    // The k-th is checked k holds after it came in.
    EXPECT_GE(answeredAt[i], kHold * static_cast<int>(i + 1)) << i;
  }
  // Nobody is left in line: the next attempt waits one hold.
  const auto next = Clock::now();
  EXPECT_EQ(post("/rpc/v1/login/password", kWrong), first);
  EXPECT_GE(Clock::now() - next, kHold);
}

TEST_F(ManagementApi, AWrongCurrentPasswordIsHeldAndCountedAsAFailedSignIn) {
  constexpr auto kHold = 700ms;
  context->signIns.setHold(kHold);
  const std::string auth = token();
  const auto update = [&](const std::string& current) {
    return call("/rpc/password/update", R"({"auth":")" + auth +
                                            R"(","input":{"currentPassword":")" + current +
                                            R"(","newPassword":"quilm"}})");
  };
  const Reply mismatch{400, error(24004, "Password mismatch")};
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(login("guess").status, 403) << i;
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(update("guess"), mismatch) << i;
  // The address has failed five times: the next check of a password waits, whichever procedure.
  auto start = Clock::now();
  EXPECT_EQ(update("guess"), mismatch);
  EXPECT_GE(Clock::now() - start, kHold);
  start = Clock::now();
  EXPECT_EQ(update("quilm"), kDone);
  EXPECT_GE(Clock::now() - start, kHold);
  // The right one cleared the address.
  start = Clock::now();
  EXPECT_EQ(update("guess"), mismatch);
  EXPECT_LT(Clock::now() - start, kHold);
}

TEST_F(ManagementApi,
       GuessingFromEverywhereKeepsNewcomersWaitingButNotAnAddressThatSignedInBefore) {
  ASSERT_EQ(login("quilm").status, 200);
  // Failures from far more networks than the overall pace allows in the time anyone waits.
  for (int i = 0; i < 100; ++i)
    context->signIns.failed("10." + std::to_string(i) + ".0.1", context->clock.now());
  const std::string wrong = request(kWrong);
  LoopbackClient newcomer(thread->port(), {}, "127.0.5.1");
  newcomer.send(wrong);
  EXPECT_EQ(newcomer.readAnswer(), "");
  EXPECT_TRUE(newcomer.closedByPeer());
  // The operator's address gets its answer at once, right or wrong.
  const auto start = Clock::now();
  EXPECT_EQ(login("guess").status, 403);
  EXPECT_EQ(login("quilm").status, 200);
  EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(ManagementApi, ATokenIsRefusedTwelveHoursAfterSignInAndForgottenTwelveHoursLater) {
  const std::string auth = R"({"auth":")" + token() + "\"}";
  const Reply expired{403, error(27002, "Expired auth token")};
  context->clock.advance(12h - 1min);
  EXPECT_EQ(call("/rpc/sshd/stop", auth).status, 200);
  context->clock.advance(1min);
  EXPECT_EQ(call("/rpc/sshd/stop", auth), expired);
  EXPECT_EQ(call("/rpc/v1/forwarder-config/get", auth), expired);
  // A new sign-in is good for twelve hours of its own.
  const std::string renewed = R"({"auth":")" + token() + "\"}";
  EXPECT_EQ(call("/rpc/sshd/stop", renewed).status, 200);
  context->clock.advance(12h);
  EXPECT_EQ(call("/rpc/sshd/stop", auth), (Reply{403, error(23010, "Invalid auth token")}));
  EXPECT_EQ(call("/rpc/sshd/stop", renewed), expired);
}

}  // namespace
}  // namespace relaydash
