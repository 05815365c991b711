#include "runtime/alarm.hpp"

#include <sys/timerfd.h>

#include <cstdint>

#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

FileDescriptor newTimerFd() {
  FileDescriptor fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!fd) raiseOSError();
  return fd;
}

}  // namespace

Alarm::Alarm() : socket_(newTimerFd()) {}

void Alarm::set(EventLoop::Clock::time_point when) {
  static_assert(EventLoop::Clock::is_steady, "the steady clock is CLOCK_MONOTONIC");
  // Forget an expiry nobody waited for, so that readiness means this setting.
  std::uint64_t expirations = 0;
  [[maybe_unused]] const ssize_t n = ::read(socket_.fd(), &expirations, sizeof expirations);

  const auto sinceEpoch =
      std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
  itimerspec setting{};
  // Zero would disarm the timer: a time already past is one nanosecond after the epoch.
  const long long ns = sinceEpoch.count() > 0 ? sinceEpoch.count() : 1;
  setting.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  setting.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  if (::timerfd_settime(socket_.fd(), TFD_TIMER_ABSTIME, &setting, nullptr) != 0) raiseOSError();
}

}  // namespace relaydash
