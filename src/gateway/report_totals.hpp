#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "gateway/link_health.hpp"

namespace relaydash {

// The forwarder's statistics summed over its reports: counters that never go backwards, whatever
// the forwarder's own counts do when it restarts (each report counts one interval only).
struct ForwarderTotals {
  std::uint64_t reports = 0;
  std::uint64_t received = 0;   // radio packets received
  std::uint64_t crcOk = 0;      // received × the report's CRC-OK percentage, rounded
  std::uint64_t crcFailed = 0;  // received × its CRC-failed percentage, rounded
  std::uint64_t forwarded = 0;  // radio packets forwarded
  std::uint64_t pushSent = 0;
  std::uint64_t pushAcknowledged = 0;  // PUSH_DATA sent × acknowledged percentage, rounded
  std::uint64_t pullSent = 0;
  std::uint64_t pullAcknowledged = 0;
  std::uint64_t downlinksSent = 0;  // packets the radio sent
  std::uint64_t txErrors = 0;

  bool operator==(const ForwarderTotals&) const = default;
};

// Adds each statistics report to ForwarderTotals once, from snapshots of the report history
// (ReportHistory: the last hour, oldest first) taken now and then. A report is known by when it
// reached the journal and its own time, which stay the same when the history reads the hour
// afresh; only reports newer than the newest one counted are added. A report is added once it
// is final: complete, or followed by another (the forwarder restarted within it, or it was cut
// short and the next one began); the newest, still open, waits for a later snapshot.
//
// The first snapshot adds nothing: it marks the newest report present as the start, so the
// reports from before relaydash started are not counted. Reports that leave the hour's window
// before a snapshot sees them are never counted: take a snapshot at least once an hour.
class ReportTotals {
 public:
  void take(const std::vector<LinkReport>& reports);

  // Whether a snapshot has been taken: before, there is nothing to tell.
  bool started() const noexcept { return started_; }
  const ForwarderTotals& totals() const noexcept { return totals_; }

 private:
  using Key = std::pair<std::int64_t, std::int64_t>;  // arrival, then its own time

  bool started_ = false;
  std::optional<Key> last_;  // the newest report counted or passed over
  ForwarderTotals totals_;
};

}  // namespace relaydash
