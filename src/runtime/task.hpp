#pragma once

#include <coroutine>
#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "runtime/frame_pool.hpp"

namespace relaydash {

template <typename T = void>
class Task;
class EventLoop;

namespace detail {

template <typename T>
struct Promise;

// Ends a task the event loop runs on its own (EventLoop::spawn): reports its error, if any, and
// frees its frame.
void finishDetached(std::coroutine_handle<Promise<void>> done) noexcept;

struct PromiseBase {
  static constexpr std::uint32_t kAwaited = UINT32_MAX;

  std::coroutine_handle<> continuation = std::noop_coroutine();
  std::exception_ptr error;
  // For a task the loop runs on its own: its place in the loop's list; kAwaited otherwise.
  std::uint32_t detachedSlot = kAwaited;

  static void* operator new(std::size_t size) { return allocateFrame(size); }
  static void operator delete(void* frame, std::size_t size) noexcept { releaseFrame(frame, size); }

  std::suspend_always initial_suspend() noexcept { return {}; }

  // Hands control straight to the awaiting coroutine (symmetric transfer), so long chains of
  // tasks that complete at once do not grow the stack. A task nobody awaits frees itself.
  struct FinalAwaiter {
    bool await_ready() noexcept { return false; }
    template <typename P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> done) noexcept {
      if constexpr (std::is_same_v<P, Promise<void>>) {
        if (done.promise().detachedSlot != kAwaited) {
          finishDetached(done);
          return std::noop_coroutine();
        }
      }
      return done.promise().continuation;
    }
    void await_resume() noexcept {}
  };
  FinalAwaiter final_suspend() noexcept { return {}; }

  void unhandled_exception() noexcept { error = std::current_exception(); }

  void rethrowIfFailed() const {
    if (error) std::rethrow_exception(error);
  }
};

template <typename T>
struct Promise : PromiseBase {
  std::optional<T> value;

  Task<T> get_return_object() noexcept;
  template <typename U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
  T takeResult() {
    rethrowIfFailed();
    return std::move(*value);
  }
};

template <>
struct Promise<void> : PromiseBase {
  Task<void> get_return_object() noexcept;
  void return_void() noexcept {}
  void takeResult() const { rethrowIfFailed(); }
};

}  // namespace detail

// A lazy coroutine: a future of T (or, for Task<void>, a future without a value). It starts
// when awaited and resumes its awaiter when it finishes; an exception thrown inside travels to
// the awaiter. The task owns its coroutine frame. Move-only. A Task<void> may also be made
// already finished, without a frame (ready()), for a function that could answer at once.
template <typename T>
class [[nodiscard]] Task {
 public:
  using promise_type = detail::Promise<T>;
  using Handle = std::coroutine_handle<promise_type>;

  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      if (handle_) handle_.destroy();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  ~Task() {
    if (handle_) handle_.destroy();
  }

  // A Task<void> that has already finished successfully; it owns no frame.
  static Task ready() noexcept requires std::is_void_v<T> { return Task(Handle{}); }

  bool done() const noexcept { return !handle_ || handle_.done(); }
  // Made by ready(): finished, with no frame, no value and no error.
  bool isReady() const noexcept { return !handle_; }

  auto operator co_await() && noexcept {
    struct Awaiter {
      Handle handle;
      bool await_ready() const noexcept { return !handle || handle.done(); }
      std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle.promise().continuation = awaiting;
        return handle;
      }
      T await_resume() { return takeResult(handle); }
    };
    return Awaiter{handle_};
  }
  auto operator co_await() & noexcept { return std::move(*this).operator co_await(); }

  // Awaits the task, started from within the awaiting coroutine's suspension, so that the
  // awaiter learns whether the task finished at once: if it did, the awaiter goes on without
  // having suspended; if the task has to wait for something, onWait() runs once (it must not
  // throw), then the awaiter resumes when the task finishes.
  template <typename OnWait>
  auto onFirstWait(OnWait onWait) && noexcept {
    struct Awaiter {
      Handle handle;
      OnWait onWait;
      bool await_ready() const noexcept { return !handle || handle.done(); }
      bool await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle.promise().continuation = std::noop_coroutine();
        handle.resume();
        if (handle.done()) return false;
        handle.promise().continuation = awaiting;
        onWait();
        return true;
      }
      T await_resume() { return takeResult(handle); }
    };
    return Awaiter{handle_, std::move(onWait)};
  }

  // For the event loop: starts the task without an awaiter, and reads its outcome once done.
  void start() {
    if (handle_) handle_.resume();
  }
  T result() { return takeResult(handle_); }

 private:
  // A task without a frame (ready()) has finished, and has no value and no error.
  static T takeResult(Handle handle) {
    if constexpr (std::is_void_v<T>) {
      if (!handle) return;
    }
    return handle.promise().takeResult();
  }

  friend promise_type;
  friend class EventLoop;
  explicit Task(Handle handle) noexcept : handle_(handle) {}

  Handle handle_;
};

namespace detail {

template <typename T>
Task<T> Promise<T>::get_return_object() noexcept {
  return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}

inline Task<void> Promise<void>::get_return_object() noexcept {
  return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}

}  // namespace detail
}  // namespace relaydash
