#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/journal.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// Where the forwarder's clock comes from, as its report's GPS block says.
enum class TimeReference { Valid, Invalid, Disabled };

struct GpsPosition {
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  // "gps", "manual" (set in the configuration), "fake", or "system": mp_pkt_fwd's coordinates,
  // the receiver's or the configuration's, which it does not say
  std::string source;

  bool operator==(const GpsPosition&) const = default;
};

// One statistics report of the packet forwarder: what it counted over one stat_interval. A line
// the report did not hold leaves its numbers nullopt.
struct LinkReport {
  // When the forwarder wrote it, microseconds UTC: the time its "##### 2026-12-09 21:05:00 GMT
  // #####" line gives, or `arrival` when it has none. The journal gets the forwarder's output in
  // bursts of 4 KiB, up to several reports late and several at once, so its times are no clock.
  std::int64_t time = 0;
  std::int64_t arrival = 0;  // the journal's time of the report's first line
  // It reached its "##### END #####" line or, from a forwarder that writes none, the next report
  // began. A report cut short (the rest of it still in the forwarder's buffer, or lost when it
  // stopped) lacks its last blocks: the GPS block comes last.
  bool complete = false;
  bool gpsBlock = false;  // it holds a line of its GPS block
  // Upstream: radio packets received and forwarded to the network server.
  std::optional<std::int64_t> rfReceived;
  std::optional<double> crcOkPercent, crcFailPercent, noCrcPercent;
  std::optional<std::int64_t> rfForwarded, rfForwardedBytes;
  std::optional<std::int64_t> pushDataSent, pushDataBytes;
  std::optional<double> pushDataAckPercent;
  // Downstream: keep-alives to the network server and what it sent back.
  std::optional<std::int64_t> pullDataSent;
  std::optional<double> pullDataAckPercent;
  std::optional<std::int64_t> pullRespReceived, pullRespBytes;
  std::optional<std::int64_t> rfSent, rfSentBytes, txErrors;
  // The GPS block.
  std::optional<TimeReference> timeReference;
  std::optional<std::int64_t> timeReferenceAge;  // seconds
  std::optional<GpsPosition> gps;

  bool operator==(const LinkReport&) const = default;
};

// Finds the statistics reports in the forwarder's journal entries (oldest first) and answers them
// oldest first, as LinkReportReader does (see there): a report cut off before its end (the
// forwarder stopped, or the rest is still in its buffer) counts only if it holds every counter of
// the upstream and downstream blocks. Reads the GPS lines of lora_pkt_fwd and of mp_pkt_fwd
// alike.
std::vector<LinkReport> parseLinkReports(const std::vector<JournalEntry>& entries);

// The journal fields the reports are read from: the text, and the process that wrote it (a
// forwarder restarted within a report never finishes it).
inline constexpr const char* kLinkReportFields = "MESSAGE,_PID";

// The query for the unit's entries of the last `window` seconds, newest first, at most a few
// MiB of them (on a busy gateway the hour is cut at its old end).
JournalQuery linkReportQuery(std::string unit, int windowSeconds);

// The reports of the unit's journal over the last `window` seconds (linkReportQuery), oldest
// first; empty when there are none. Raises CommandError when journalctl fails.
Task<std::vector<LinkReport>> readLinkReports(std::string unit, int windowSeconds = 3600);

}  // namespace relaydash
