#pragma once

#include <chrono>

namespace relaydash {

// The clock that token lifetimes and sign-in failures are measured on: the monotonic clock, so
// that the wall clock's jump when a gateway's NTP synchronises at boot neither ends nor extends
// a session. Tests move it forward to see what hours of waiting would do.
class SecurityClock {
 public:
  using duration = std::chrono::steady_clock::duration;
  using time_point = std::chrono::steady_clock::time_point;

  time_point now() const noexcept { return std::chrono::steady_clock::now() + skew_; }
  void advance(duration by) noexcept { skew_ += by; }

 private:
  duration skew_{};
};

}  // namespace relaydash
