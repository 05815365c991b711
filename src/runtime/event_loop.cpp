#include "runtime/event_loop.hpp"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "runtime/limits.hpp"
#include "runtime/os_error.hpp"
#include "runtime/socket.hpp"

namespace relaydash {
namespace {

thread_local EventLoop* currentLoop = nullptr;

}  // namespace

namespace detail {

void finishDetached(std::coroutine_handle<Promise<void>> done) noexcept {
  if (const std::exception_ptr error = done.promise().error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "error in a background task: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "unknown error in a background task\n");
    }
  }
  auto& detached = EventLoop::current().detached_;
  const std::uint32_t slot = done.promise().detachedSlot;
  detached[slot] = detached.back();
  detached[slot].promise().detachedSlot = slot;
  detached.pop_back();
  done.destroy();
}

}  // namespace detail

EventLoop::EventLoop()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      timerClock_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
  if (!epoll_ || !timerClock_) raiseOSError();
  if (currentLoop) throw std::logic_error("one event loop per thread");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.ptr = &timerClock_;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, timerClock_.get(), &event) != 0) raiseOSError();
  currentLoop = this;
}

EventLoop::~EventLoop() {
  // Destroying a task may start another (a connection that ends schedules a clean-up): it goes
  // too.
  while (!detached_.empty()) {
    auto frames = std::move(detached_);
    detached_.clear();
    for (const auto frame : frames)
      frame.destroy();
  }
  currentLoop = nullptr;
}

EventLoop& EventLoop::current() {
  return *currentLoop;
}

bool EventLoop::exists() noexcept {
  return currentLoop != nullptr;
}

void EventLoop::spawn(Task<void> task) {
  // A ready task has nothing left to run.
  if (task.done()) return;
  // Room first: should it fail, the task still owns its frame.
  detached_.emplace_back();
  const auto handle = std::exchange(task.handle_, {});
  detached_.back() = handle;
  handle.promise().detachedSlot = static_cast<std::uint32_t>(detached_.size() - 1);
  handle.resume();
}

void EventLoop::throwStoppedEarly() {
  throw std::logic_error("the event loop stopped before the task finished");
}

void EventLoop::run() {
  stopping_ = false;
  while (!stopping_)
    runOnce(-1);
}

void EventLoop::runFor(std::chrono::milliseconds duration) {
  stopping_ = false;
  const auto deadline = Clock::now() + duration;
  for (auto now = Clock::now(); !stopping_ && now < deadline; now = Clock::now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    runOnce(static_cast<int>(left.count()));
  }
}

void EventLoop::runOnce(int timeoutMs) {
  epoll_event events[limits::kMaxEventsPerWait];
  const int n = ::epoll_wait(epoll_.get(), events, limits::kMaxEventsPerWait, timeoutMs);
  if (n < 0 && errno != EINTR) raiseOSError();

  bool timerClockRanOut = false;
  dispatching_ = true;
  for (int i = 0; i < n; ++i) {
    if (events[i].data.ptr == &timerClock_) {
      timerClockRanOut = true;
      continue;
    }
    auto* socket = static_cast<Socket*>(events[i].data.ptr);
    // A socket closed by an earlier event of this batch must not be touched.
    if (!retired_.empty() && std::find(retired_.begin(), retired_.end(), socket) != retired_.end())
      continue;
    socket->onEvents(events[i].events);
  }
  dispatching_ = false;
  retired_.clear();

  if (timerClockRanOut) {
    std::uint64_t expirations = 0;
    // Emptied so that the descriptor stops being ready; nothing else to learn from it.
    [[maybe_unused]] const ssize_t got =
        ::read(timerClock_.get(), &expirations, sizeof expirations);
    armedFor_.reset();
    fireTimers();
  }
}

void EventLoop::fireTimers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    const auto waiter = timers_.begin()->second;
    timers_.erase(timers_.begin());
    waiter.resume();
  }
  armTimerClock();
}

void EventLoop::armTimerClock() {
  // A timer cancelled since the clock was set leaves it early: it runs out, nothing is due, and
  // it is set again for what remains.
  if (timers_.empty() || (armedFor_ && *armedFor_ <= timers_.begin()->first)) return;
  const auto deadline = timers_.begin()->first;
  const auto sinceStart =
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(sinceStart.count() / 1'000'000'000);
  when.it_value.tv_nsec = static_cast<long>(sinceStart.count() % 1'000'000'000);
  // All zero would disarm it; a deadline that early has passed anyway.
  if (when.it_value.tv_sec <= 0 && when.it_value.tv_nsec <= 0) when.it_value.tv_nsec = 1;
  if (::timerfd_settime(timerClock_.get(), TFD_TIMER_ABSTIME, &when, nullptr) != 0) {
    raiseOSError();
  }
  armedFor_ = deadline;
}

EventLoop::TimerId EventLoop::addTimer(Clock::time_point deadline, std::coroutine_handle<> waiter) {
  const TimerId id = timers_.emplace(deadline, waiter);
  armTimerClock();
  return id;
}

void EventLoop::cancelTimer(TimerId id) noexcept {
  timers_.erase(id);
}

void EventLoop::watch(Socket& socket, bool levelTriggered) {
  epoll_event event{};
  // Edge-triggered: an operation first tries its system call and waits only on EAGAIN, so
  // each readiness change is needed once. A level-triggered socket (a listener) is reported
  // for as long as it is ready.
  event.events = levelTriggered ? EPOLLIN : EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  event.data.ptr = &socket;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, socket.fd(), &event) != 0) raiseOSError();
}

void EventLoop::unwatch(Socket& socket) noexcept {
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, socket.fd(), nullptr);
}

void EventLoop::untrack(Socket& socket, bool registered) noexcept {
  --watched_;
  // Closing the descriptor takes it out of the epoll set: no other copy of a socket's descriptor
  // exists (every one is close-on-exec, and a child is started by posix_spawn, while this thread
  // waits until it has run exec), so no EPOLL_CTL_DEL is needed. The one exception, a copy of a
  // library's descriptor (Socket::setSharedDescriptor), takes itself out before it closes.
  if (registered && dispatching_) retired_.push_back(&socket);
}

}  // namespace relaydash
