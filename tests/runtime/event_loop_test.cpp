#include "runtime/event_loop.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "runtime/socket.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, TimersFireInDeadlineOrder) {
  EventLoop loop;
  std::vector<int> order;
  auto sleeper = [&](int id, std::chrono::milliseconds d) -> Task<void> {
    co_await SleepFor(d);
    order.push_back(id);
  };
  loop.spawn(sleeper(3, 30ms));
  loop.spawn(sleeper(1, 10ms));
  loop.spawn(sleeper(2, 20ms));
  loop.runFor(200ms);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

// The timers' clock is set for the earliest deadline. One cancelled after it was set wakes the
// loop for nothing; the clock must then be set for the next one, or that one never fires.
TEST(EventLoop, ATimerFiresOnTimeAfterAnEarlierOneIsCancelled) {
  EventLoop loop;
  const auto start = EventLoop::Clock::now();
  const auto early = loop.addTimer(start + 5ms, std::noop_coroutine());
  EventLoop::Clock::time_point firedAt{};
  auto later = [&]() -> Task<void> {
    co_await SleepFor(30ms);
    firedAt = EventLoop::Clock::now();
  };
  loop.spawn(later());
  loop.cancelTimer(early);
  loop.runFor(300ms);
  ASSERT_NE(firedAt, EventLoop::Clock::time_point{}) << "the later timer never fired";
  EXPECT_GE(firedAt - start, 30ms);
  EXPECT_LT(firedAt - start, 250ms);
}

TEST(EventLoop, RunForReturnsWhenTheTimeIsUp) {
  EventLoop loop;
  const auto start = EventLoop::Clock::now();
  loop.runFor(50ms);
  EXPECT_GE(EventLoop::Clock::now() - start, 50ms);
}

TEST(EventLoop, StopEndsRunAfterTheStoppingTaskAndBeforeLaterTimers) {
  EventLoop loop;
  bool stopped = false;
  bool late = false;
  // A coroutine lambda's captures die with the lambda: name it so it outlives the task.
  auto stopSoon = [&]() -> Task<void> {
    co_await SleepFor(5ms);
    stopped = true;
    loop.stop();
  };
  auto runLate = [&]() -> Task<void> {
    co_await SleepFor(200ms);
    late = true;
  };
  // Before the spawns: each task starts at once and counts its sleep from then.
  const auto start = EventLoop::Clock::now();
  loop.spawn(stopSoon());
  loop.spawn(runLate());
  loop.run();
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(late);
  EXPECT_GE(EventLoop::Clock::now() - start, 5ms);
}

TEST(EventLoop, DestroyingTheLoopDestroysSuspendedTasks) {
  struct Flag {
    bool& destroyed;
    ~Flag() { destroyed = true; }
  };
  bool destroyed = false;
  {
    EventLoop loop;
    loop.spawn([](bool& d) -> Task<void> {
      Flag flag{d};
      co_await SleepFor(1h);
    }(destroyed));
    loop.runFor(1ms);
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);
}

TEST(EventLoop, AYieldingTaskGoesOnAfterTheEventsAlreadyWaiting) {
  EventLoop loop;
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  Socket reader{FileDescriptor(fds[0])};
  FileDescriptor peer(fds[1]);
  std::vector<std::string> order;
  auto read = [&]() -> Task<void> {
    char c;
    co_await reader.read(std::span<char>(&c, 1));
    order.push_back("read");
  };
  auto yield = [&]() -> Task<void> {
    co_await Yield();
    order.push_back("yielded");
  };
  loop.spawn(read());
  ASSERT_EQ(::send(peer.get(), "x", 1, 0), 1);
  loop.spawn(yield());
  EXPECT_TRUE(order.empty());
  // One turn that would block forever without the yield.
  loop.runOnce(-1);
  EXPECT_EQ(order, (std::vector<std::string>{"read", "yielded"}));
}

}  // namespace
}  // namespace relaydash
