#include "runtime/slots.hpp"

#include <algorithm>

namespace relaydash {

Slots::Taking::~Taking() {
  if (queued_) std::erase(owner_.queue_, this);
}

bool Slots::Taking::await_ready() noexcept {
  // Nobody may pass those already waiting.
  if (owner_.free_ == 0 || !owner_.queue_.empty()) return false;
  --owner_.free_;
  return true;
}

void Slots::Taking::await_suspend(std::coroutine_handle<> waiter) {
  waiter_ = waiter;
  owner_.queue_.push_back(this);
  queued_ = true;
}

void Slots::giveBack() noexcept {
  if (queue_.empty()) {
    ++free_;
    return;
  }
  // The slot passes to the first waiter without ever being free.
  Taking* next = queue_.front();
  queue_.pop_front();
  next->queued_ = false;
  next->waiter_.resume();
}

}  // namespace relaydash
