#pragma once

#include <array>
#include <coroutine>
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>

#include "runtime/socket.hpp"

namespace relaydash {

// Waits until one of a few sockets is readable or has hung up, without reading: the awaiting
// coroutine is parked on all of them and resumed once, by the first that reports. The others
// are unparked before the coroutine goes on, so no later event can resume it a second time.
//
// Readiness is edge-triggered: the caller must have drained each socket (read until EAGAIN, or
// checked whatever state the socket announces) before waiting, or an event that came earlier is
// never reported again. Lives in the awaiting coroutine's frame and allocates nothing.
class ReadableAny {
 public:
  static constexpr std::size_t kMaxSockets = 4;

  explicit ReadableAny(std::span<Socket* const> sockets) {
    if (sockets.size() > kMaxSockets || sockets.empty()) {
      throw std::invalid_argument("ReadableAny waits on one to four sockets");
    }
    for (Socket* socket : sockets)
      sockets_[count_++] = socket;
  }
  ReadableAny(const ReadableAny&) = delete;
  ReadableAny& operator=(const ReadableAny&) = delete;

  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> waiter) {
    for (std::size_t i = 0; i < count_; ++i) {
      waits_[i].emplace(*sockets_[i]);
      waits_[i]->await_suspend(waiter);
    }
  }
  // Unparks the sockets that did not report.
  void await_resume() noexcept {
    for (std::size_t i = 0; i < count_; ++i)
      waits_[i].reset();
  }

 private:
  std::array<Socket*, kMaxSockets> sockets_{};
  std::array<std::optional<Socket::Readable>, kMaxSockets> waits_;
  std::size_t count_ = 0;
};

}  // namespace relaydash
