#include "model/audit_trail.hpp"

#include <string>
#include <utility>

#include "runtime/event_loop.hpp"
#include "runtime/print_line.hpp"

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

void AuditTrail::recordNow(AuditRow row) noexcept {
  flush();
  try {
    appendAuditRow(database_.connection(), row);
  } catch (const std::exception& e) {
    printLine("the audit trail could not be written (1 rows lost): " + std::string(e.what()));
  }
}

std::optional<std::int64_t> AuditTrail::begin(AuditRow row) noexcept {
  flush();
  try {
    return insertAuditRow(database_.connection(), row);
  } catch (const std::exception& e) {
    printLine("the audit trail could not be written (1 rows lost): " + std::string(e.what()));
  }
  return std::nullopt;
}

void AuditTrail::complete(std::int64_t id, std::string_view outcome,
                          std::optional<std::int64_t> version) noexcept {
  try {
    completeAuditRow(database_.connection(), id, outcome, version);
  } catch (const std::exception& e) {
    printLine("the audit trail's row " + std::to_string(id) +
              " could not be completed: " + e.what());
  }
}

Task<void> AuditTrail::flushLater() {
  co_await SleepFor(delay_);
  flushPending_ = false;
  flush();
}

}  // namespace relaydash
