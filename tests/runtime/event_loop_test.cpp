#include "runtime/event_loop.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

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

TEST(EventLoop, RunForReturnsWhenTheTimeIsUp) {
  EventLoop loop;
  const auto start = EventLoop::Clock::now();
  loop.runFor(50ms);
  EXPECT_GE(EventLoop::Clock::now() - start, 50ms);
}

TEST(EventLoop, StopEndsRun) {
  EventLoop loop;
  // A coroutine lambda's captures die with the lambda: name it so it outlives the task.
  auto stopSoon = [&]() -> Task<void> {
    co_await SleepFor(5ms);
    loop.stop();
  };
  loop.spawn(stopSoon());
  loop.run();
  SUCCEED();
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

}  // namespace
}  // namespace relaydash
