#pragma once

#include <coroutine>
#include <cstddef>
#include <deque>

namespace relaydash {

// At most a given number of holders at once; the others wait in turn, first come first served,
// on the event loop. Used to bound work that costs the gateway a lot per call (child processes,
// an hour of journal parsed), however many clients ask for it at once.
//
//   const Slots::Permit permit = co_await reads.take();
//
// A slot given back is handed straight to the first waiter, which resumes at once, inside the
// call that gave it back. A waiter destroyed while it waits leaves the queue.
class Slots {
 public:
  class Permit {
   public:
    Permit(Permit&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
    Permit& operator=(Permit&&) = delete;
    Permit(const Permit&) = delete;
    ~Permit() {
      if (owner_) owner_->giveBack();
    }

   private:
    friend class Slots;
    explicit Permit(Slots* owner) noexcept : owner_(owner) {}
    Slots* owner_;
  };

  class Taking {
   public:
    explicit Taking(Slots& owner) noexcept : owner_(owner) {}
    Taking(const Taking&) = delete;
    Taking& operator=(const Taking&) = delete;
    ~Taking();

    bool await_ready() noexcept;
    void await_suspend(std::coroutine_handle<> waiter);
    Permit await_resume() noexcept { return Permit(&owner_); }

   private:
    friend class Slots;
    Slots& owner_;
    std::coroutine_handle<> waiter_;
    bool queued_ = false;
  };

  explicit Slots(std::size_t count) noexcept : free_(count) {}
  Slots(const Slots&) = delete;
  Slots& operator=(const Slots&) = delete;

  // Completes with a permit once a slot is free; the permit gives it back when destroyed.
  Taking take() noexcept { return Taking(*this); }

  std::size_t free() const noexcept { return free_; }
  std::size_t waiting() const noexcept { return queue_.size(); }

 private:
  void giveBack() noexcept;

  std::size_t free_;
  std::deque<Taking*> queue_;
};

}  // namespace relaydash
