#include "runtime/slots.hpp"

#include <gtest/gtest.h>

#include <coroutine>
#include <utility>
#include <vector>

#include "runtime/event_loop.hpp"
#include "runtime/task.hpp"

namespace relaydash {
namespace {

// Holds a task where the test wants it until the test lets it go.
struct Gate {
  std::coroutine_handle<> waiter;
  bool open = false;
  bool await_ready() const noexcept { return open; }
  void await_suspend(std::coroutine_handle<> h) noexcept { waiter = h; }
  void await_resume() const noexcept {}
  void release() {
    open = true;
    if (waiter) std::exchange(waiter, {}).resume();
  }
};

Task<void> holder(Slots& slots, int id, std::vector<int>& got, Gate& gate) {
  const Slots::Permit permit = co_await slots.take();
  got.push_back(id);
  co_await gate;
}

TEST(Slots, AtMostCountHoldersAndTheRestInTurn) {
  Slots slots(2);
  std::vector<int> got;
  std::vector<Gate> gates(4);
  {
    EventLoop loop;
    for (int id = 0; id < 4; ++id)
      loop.spawn(holder(slots, id, got, gates[id]));
    loop.runOnce(0);
    EXPECT_EQ(got, (std::vector<int>{0, 1}));
    EXPECT_EQ(slots.free(), 0u);
    EXPECT_EQ(slots.waiting(), 2u);

    // A slot given back goes to the first waiter, never to a newcomer.
    gates[1].release();
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
    Gate late;
    loop.spawn(holder(slots, 9, got, late));
    loop.runOnce(0);
    gates[0].release();
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(slots.waiting(), 1u);

    // The loop going away destroys the holders and the waiter: the waiter leaves the queue, and
    // the slots of the holders come back.
  }
  EXPECT_EQ(slots.waiting(), 0u);
  EXPECT_EQ(slots.free(), 2u);
}

}  // namespace
}  // namespace relaydash
