#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "model/audit_log.hpp"
#include "model/database.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The audit rows on their way to the database. A sign-in's row is recorded at once, in memory,
// and written with the rows recorded after it in one transaction: kAuditWriteDelay after the
// first of them, or as soon as kAuditRowsPerWrite wait, or when someone reads the trail. So a
// flood of sign-ins costs one sync of the file a second rather than one each (a gateway's SD card
// would wear, and sign-in slow to a few hundred a second), and a row is on disk within about a
// second of its action. A process killed meanwhile loses what still waits: at most that second's
// sign-ins. The row of a change is written at once (recordNow), after those waiting; a change
// that takes a while has its row written before it takes effect (begin) and completed once it
// has ended (complete), so that a stop in between leaves the row.
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
  // Writes the rows waiting and then this one, now.
  void recordNow(AuditRow row) noexcept;
  // The same for a row to be completed later: answers its id, or nullopt when it could not be
  // written.
  std::optional<std::int64_t> begin(AuditRow row) noexcept;
  // Sets the outcome and version of the row begun with that id, now.
  void complete(std::int64_t id, std::string_view outcome,
                std::optional<std::int64_t> version) noexcept;
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
