#pragma once

#include <chrono>
#include <coroutine>
#include <cstddef>
#include <map>
#include <optional>
#include <vector>

#include "runtime/file_descriptor.hpp"
#include "runtime/task.hpp"

namespace relaydash {

class Socket;

// The single-threaded event loop: one epoll instance, the descriptors it watches, timers,
// and the detached tasks it runs. One loop per thread; code reaches the thread's loop through
// EventLoop::current(). Destroying the loop destroys the detached tasks still suspended on it,
// which closes their descriptors.
class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;

  EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;
  ~EventLoop();

  // The loop of the calling thread. Precondition: one was constructed on this thread.
  static EventLoop& current();
  // Whether the calling thread has a loop.
  static bool exists() noexcept;

  // Starts a task that nobody awaits; the loop owns it until it finishes, and it frees itself
  // then (no frame of the loop's own wraps it). An exception that escapes it is reported on
  // standard error.
  void spawn(Task<void> task);

  // Runs the loop until the task has finished, and returns its result or raises its error.
  template <typename T>
  T blockOn(Task<T> task) {
    stopping_ = false;
    task.start();
    while (!task.done()) {
      if (stopping_) throwStoppedEarly();
      runOnce(-1);
    }
    return task.result();
  }

  // Runs the loop until stop() is called from a task running on it.
  void run();
  void stop() noexcept { stopping_ = true; }

  // Runs the loop for at most this long: returns once the time is up or stop() was called.
  void runFor(std::chrono::milliseconds duration);

  // Waits for events at most timeoutMs (-1: until the next timer or event), dispatches them
  // and fires the timers that are due.
  void runOnce(int timeoutMs);

  // Number of descriptors the loop is watching: the open sockets made on it.
  std::size_t watchedCount() const noexcept { return watched_; }

  // Timers, used by the sleep awaiter. The id is what cancelTimer needs.
  using TimerId = std::multimap<Clock::time_point, std::coroutine_handle<>>::iterator;
  TimerId addTimer(Clock::time_point deadline, std::coroutine_handle<> waiter);
  void cancelTimer(TimerId id) noexcept;

  // For Socket: count a new socket, register it with epoll when it first waits, and forget it
  // when it closes.
  void track() noexcept { ++watched_; }
  void watch(Socket& socket, bool levelTriggered);
  void unwatch(Socket& socket) noexcept;
  void untrack(Socket& socket, bool registered) noexcept;

 private:
  friend void detail::finishDetached(std::coroutine_handle<detail::Promise<void>>) noexcept;

  void fireTimers();
  void armTimerClock();
  [[noreturn]] static void throwStoppedEarly();

  FileDescriptor epoll_;
  // The timers' clock: a timer descriptor in the epoll set, set to the earliest deadline. A
  // wait is then never given a timeout of its own, which would make the kernel set and cancel a
  // timer on every wait (on a virtual machine, each time through the hypervisor); the clock is
  // set again only when the earliest deadline moves, and read only when it has run out.
  FileDescriptor timerClock_;
  std::optional<Clock::time_point> armedFor_;  // the deadline timerClock_ is set to
  std::size_t watched_ = 0;
  bool stopping_ = false;
  bool dispatching_ = false;
  std::vector<Socket*> retired_;  // unwatched during the current dispatch
  std::multimap<Clock::time_point, std::coroutine_handle<>> timers_;
  // The tasks started by spawn() still running; each knows its place (detachedSlot).
  std::vector<std::coroutine_handle<detail::Promise<void>>> detached_;
};

// Suspends the awaiting coroutine for a while; the loop keeps running meanwhile.
class SleepFor {
 public:
  explicit SleepFor(std::chrono::milliseconds duration) : duration_(duration) {}
  SleepFor(const SleepFor&) = delete;
  SleepFor& operator=(const SleepFor&) = delete;
  ~SleepFor() {
    if (pending_) EventLoop::current().cancelTimer(id_);
  }

  bool await_ready() const noexcept { return duration_.count() <= 0; }
  void await_suspend(std::coroutine_handle<> waiter) {
    id_ = EventLoop::current().addTimer(EventLoop::Clock::now() + duration_, waiter);
    pending_ = true;
  }
  void await_resume() noexcept { pending_ = false; }

 private:
  std::chrono::milliseconds duration_;
  EventLoop::TimerId id_{};
  bool pending_ = false;
};

// Suspends the awaiting coroutine for one turn of the loop: the events already waiting are
// dispatched (the wait does not block) before it goes on.
class Yield {
 public:
  Yield() = default;
  Yield(const Yield&) = delete;
  Yield& operator=(const Yield&) = delete;
  ~Yield() {
    if (pending_) EventLoop::current().cancelTimer(id_);
  }

  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> waiter) {
    // A timer that is already due: the loop's next wait does not block, and it fires after the
    // events that wait has collected.
    id_ = EventLoop::current().addTimer(EventLoop::Clock::now(), waiter);
    pending_ = true;
  }
  void await_resume() noexcept { pending_ = false; }

 private:
  EventLoop::TimerId id_{};
  bool pending_ = false;
};

}  // namespace relaydash
