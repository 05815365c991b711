#include "runtime/task.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "runtime/event_loop.hpp"

namespace relaydash {
namespace {

Task<int> answer() {
  co_return 42;
}

Task<int> sumOfAnswers(int times) {
  int sum = 0;
  for (int i = 0; i < times; ++i)
    sum += co_await answer();
  co_return sum;
}

Task<std::string> failing() {
  throw std::runtime_error("boom");
  co_return "";
}

Task<void> propagates() {
  co_await failing();
}

TEST(Task, ValuesTravelToTheAwaiter) {
  EventLoop loop;
  EXPECT_EQ(loop.blockOn(answer()), 42);
  // A long chain of tasks that finish at once must not grow the stack.
  EXPECT_EQ(loop.blockOn(sumOfAnswers(200'000)), 8'400'000);
}

TEST(Task, ErrorsTravelThroughEveryLevel) {
  EventLoop loop;
  EXPECT_THROW(loop.blockOn(failing()), std::runtime_error);
  try {
    loop.blockOn(propagates());
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "boom");
  }
}

TEST(Task, AnUnstartedTaskIsDestroyedWithoutRunning) {
  EventLoop loop;
  bool ran = false;
  {
    auto task = [&]() -> Task<void> {
      ran = true;
      co_return;
    }();
  }
  EXPECT_FALSE(ran);
}

TEST(Task, AReadyTaskHasFinishedWithoutAFrame) {
  EventLoop loop;
  Task<void> ready = Task<void>::ready();
  EXPECT_TRUE(ready.done());
  int waits = 0;
  loop.blockOn([&]() -> Task<void> {
    co_await Task<void>::ready();
    co_await Task<void>::ready().onFirstWait([&waits]() noexcept { ++waits; });
  }());
  EXPECT_EQ(waits, 0);
  loop.blockOn(std::move(ready));
}

TEST(Task, OnFirstWaitRunsOnlyForATaskThatHasToWait) {
  EventLoop loop;
  int waits = 0;
  const auto countWait = [&waits]() noexcept { ++waits; };
  const auto outcome = [&](Task<int> task) -> Task<int> {
    co_return co_await std::move(task).onFirstWait(countWait);
  };
  EXPECT_EQ(loop.blockOn(outcome(answer())), 42);
  EXPECT_EQ(waits, 0);

  auto sleepsTwice = []() -> Task<int> {
    co_await SleepFor(std::chrono::milliseconds(1));
    co_await SleepFor(std::chrono::milliseconds(1));
    co_return 7;
  };
  EXPECT_EQ(loop.blockOn(outcome(sleepsTwice())), 7);
  EXPECT_EQ(waits, 1);

  auto failsLater = []() -> Task<int> {
    co_await SleepFor(std::chrono::milliseconds(1));
    throw std::runtime_error("late");
  };
  EXPECT_THROW(loop.blockOn(outcome(failsLater())), std::runtime_error);
  EXPECT_THROW(loop.blockOn(outcome([]() -> Task<int> {
    throw std::runtime_error("at once");
    co_return 0;
  }())),
               std::runtime_error);
  EXPECT_EQ(waits, 2);
}

}  // namespace
}  // namespace relaydash
