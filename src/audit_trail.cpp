#include "audit_trail.hpp"

#include <string>
#include <utility>

#include "print_line.hpp"
#include "runtime/event_loop.hpp"

namespace relaydash {

AuditTrail::~AuditTrail() {
  flush();
}

void AuditTrail::record(AuditRow row) {
  waiting_.push_back(std::move(row));
  if (waiting_.size() >= kAuditRowsPerWrite || !EventLoop::exists()) {
    flush();
  } else if (!flushPending_) {
    flushPending_ = true;
    EventLoop::current().spawn(flushLater());
  }
}

void AuditTrail::flush() noexcept {
  if (waiting_.empty()) return;
  try {
    appendAuditRows(database_.connection(), waiting_);
  } catch (const std::exception& e) {
    printLine("the audit trail could not be written (" + std::to_string(waiting_.size()) +
              " rows lost): " + e.what());
  }
  waiting_.clear();
}

Task<void> AuditTrail::flushLater() {
  co_await SleepFor(delay_);
  flushPending_ = false;
  flush();
}

}  // namespace relaydash
