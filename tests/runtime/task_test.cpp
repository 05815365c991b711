#include "runtime/task.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace relaydash
