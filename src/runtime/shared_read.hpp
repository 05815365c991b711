#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

#include "runtime/event_loop.hpp"
#include "runtime/slots.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// A value that is dear to read (a child process, a call to another service), read at most once
// per `fresh` however many callers ask for it:
//
//   const std::shared_ptr<const Units> units = co_await sharedUnits.get([&] { return readUnits();
//   });
//
// One read is in flight at a time: callers that come meanwhile wait for it and take its answer,
// then the answer is kept for `fresh`. A read that failed is kept as well, and its error raised
// to every caller until then, so that a tool that hangs or fails is not asked again by each of
// them. `forget()` makes the next caller read again, also when a read that began before it is
// still under way: the change that made the value old may have come after that read's start.
template <typename T>
class SharedRead {
 public:
  explicit SharedRead(std::chrono::milliseconds fresh) : fresh_(fresh) {}
  SharedRead(const SharedRead&) = delete;
  SharedRead& operator=(const SharedRead&) = delete;

  // The kept value, or the value `read()` answers when none is kept or it is old: a Task<T>, or
  // a Task<std::shared_ptr<const T>> for a value the reader shares itself. Callers share one
  // value: it is never changed, only replaced.
  template <typename Read>
  Task<std::shared_ptr<const T>> get(Read read) {
    const Slots::Permit turn = co_await turn_.take();
    if (!current()) {
      const std::uint64_t asked = generation_;
      const auto at = EventLoop::Clock::now();
      std::shared_ptr<const T> value;
      std::exception_ptr error;
      try {
        auto answer = co_await read();
        if constexpr (std::is_same_v<decltype(answer), std::shared_ptr<const T>>) {
          value = std::move(answer);
        } else {
          value = std::make_shared<const T>(std::move(answer));
        }
      } catch (...) {
        error = std::current_exception();
      }
      value_ = std::move(value);
      error_ = error;
      readAt_ = at;
      readFor_ = asked;
    }
    if (error_) std::rethrow_exception(error_);
    co_return value_;
  }

  void forget() noexcept { ++generation_; }

  // Whether a value (or an error) is kept that the next get answers without reading.
  bool current() const noexcept {
    return (value_ || error_) && readFor_ == generation_ &&
           EventLoop::Clock::now() - readAt_ < fresh_;
  }

 private:
  std::chrono::milliseconds fresh_;
  Slots turn_{1};
  std::shared_ptr<const T> value_;
  std::exception_ptr error_;
  EventLoop::Clock::time_point readAt_{};
  std::uint64_t generation_ = 0;
  std::uint64_t readFor_ = 0;
};

}  // namespace relaydash
