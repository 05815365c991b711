#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "model/audit_log.hpp"
#include "model/database.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The audit rows on their way to the database. A row is recorded at once, in memory, and written
// with the rows recorded after it in one transaction: kAuditWriteDelay after the first of them,
// or as soon as kAuditRowsPerWrite wait, or when someone reads the trail. So a flood of sign-ins
// costs one sync of the file a second rather than one each (a gateway's SD card would wear, and
// sign-in slow to a few hundred a second), and a row is on disk within about a second of its
// action. A process killed meanwhile loses what still waits: at most that second's rows.
//
// Used on the event loop's thread; the delay runs on the loop (outside one, a row is written at
// once). A failure to write is printed on standard output and the rows it concerned are dropped:
// the actions have happened, and their answers stand.
class AuditTrail {
 public:
  static constexpr std::chrono::milliseconds kAuditWriteDelay{1000};
  static constexpr std::size_t kAuditRowsPerWrite = 512;

  // The database must outlive the trail.
  explicit AuditTrail(Database& database, std::chrono::milliseconds delay = kAuditWriteDelay)
      : database_(database), delay_(delay) {}
  AuditTrail(const AuditTrail&) = delete;
  AuditTrail& operator=(const AuditTrail&) = delete;
  // Writes what still waits.
  ~AuditTrail();

  void record(AuditRow row);
  // Writes every row recorded so far; the trail as read afterwards holds them.
  void flush() noexcept;
  std::size_t waiting() const noexcept { return waiting_.size(); }

 private:
  Task<void> flushLater();

  Database& database_;
  std::chrono::milliseconds delay_;
  std::vector<AuditRow> waiting_;
  bool flushPending_ = false;
};

}  // namespace relaydash
