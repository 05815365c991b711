#include "model/database.hpp"

#include <malloc.h>

#include <utility>

#include "runtime/event_loop.hpp"

namespace relaydash {

void Database::open(std::string path) {
  db_ = relaydash::open(path);
  path_ = std::move(path);
}

const Db& Database::connection() {
  if (!isOpen()) db_ = relaydash::open(path_);
  lastUse_ = std::chrono::steady_clock::now();
  if (!closePending_ && EventLoop::exists()) {
    closePending_ = true;
    EventLoop::current().spawn(closeWhenIdle());
  }
  return db_;
}

Task<void> Database::closeWhenIdle() {
  // Each use moves the deadline; the wait wakes at the deadline it knew and waits on when it
  // has moved.
  for (;;) {
    const auto idle = std::chrono::steady_clock::now() - lastUse_;
    if (idle >= closeAfter_) break;
    co_await SleepFor(std::chrono::ceil<std::chrono::milliseconds>(closeAfter_ - idle));
  }
  closePending_ = false;
  close();
}

void Database::close() noexcept {
  db_ = Db();
  // What SQLite had allocated is free now; the pages go back to the system rather than wait in
  // the heap for the next burst.
  ::malloc_trim(0);
}

}  // namespace relaydash
