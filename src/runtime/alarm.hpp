#pragma once

#include <chrono>

#include "runtime/event_loop.hpp"
#include "runtime/socket.hpp"

namespace relaydash {

// A timer that is a descriptor (timerfd on CLOCK_MONOTONIC, the steady clock's), so that waiting
// for it can be combined with waiting for other descriptors (see ReadableAny). It becomes
// readable once the time it is set to has come; setting it again re-arms it and forgets an
// expiry not yet waited for. Raises OSError when the descriptor cannot be made.
class Alarm {
 public:
  Alarm();
  Alarm(const Alarm&) = delete;
  Alarm& operator=(const Alarm&) = delete;

  void set(EventLoop::Clock::time_point when);
  Socket& socket() noexcept { return socket_; }

 private:
  Socket socket_;
};

}  // namespace relaydash
