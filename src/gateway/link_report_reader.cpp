#include "gateway/link_report_reader.hpp"

#include <array>
#include <charconv>
#include <utility>

#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

std::string_view trim(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// Matches a line against a pattern where "{}" stands for a number and a blank for any run of
// blanks (also none); the numbers go to `out` in order. True when the whole line matched.
template <std::size_t N>
bool scan(std::string_view line, std::string_view pattern, std::array<double, N>& out) {
  std::size_t found = 0;
  while (!pattern.empty()) {
    if (pattern.starts_with("{}")) {
      if (found == N) return false;
      const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), out[found]);
      if (error != std::errc()) return false;
      ++found;
      line.remove_prefix(static_cast<std::size_t>(end - line.data()));
      pattern.remove_prefix(2);
    } else if (pattern.front() == ' ') {
      while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
      pattern.remove_prefix(1);
    } else {
      if (line.empty() || line.front() != pattern.front()) return false;
      line.remove_prefix(1);
      pattern.remove_prefix(1);
    }
  }
  return line.empty() && found == N;
}

std::int64_t whole(double value) {
  return static_cast<std::int64_t>(value);
}

// Reads one "# …" line of a report into it.
void readLine(std::string_view line, LinkReport& report) {
  std::array<double, 1> one{};
  std::array<double, 2> two{};
  std::array<double, 3> three{};
  if (scan(line, "RF packets received by concentrator: {}", one)) {
    report.rfReceived = whole(one[0]);
  } else if (scan(line, "CRC_OK: {}%, CRC_FAIL: {}%, NO_CRC: {}%", three)) {
    report.crcOkPercent = three[0];
    report.crcFailPercent = three[1];
    report.noCrcPercent = three[2];
  } else if (scan(line, "RF packets forwarded: {} ({} bytes)", two)) {
    report.rfForwarded = whole(two[0]);
    report.rfForwardedBytes = whole(two[1]);
  } else if (scan(line, "PUSH_DATA datagrams sent: {} ({} bytes)", two)) {
    report.pushDataSent = whole(two[0]);
    report.pushDataBytes = whole(two[1]);
  } else if (scan(line, "PUSH_DATA acknowledged: {}%", one)) {
    report.pushDataAckPercent = one[0];
  } else if (scan(line, "PULL_DATA sent: {} ({}% acknowledged)", two)) {
    report.pullDataSent = whole(two[0]);
    report.pullDataAckPercent = two[1];
  } else if (scan(line, "PULL_RESP(onse) datagrams received: {} ({} bytes)", two)) {
    report.pullRespReceived = whole(two[0]);
    report.pullRespBytes = whole(two[1]);
  } else if (scan(line, "RF packets sent to concentrator: {} ({} bytes)", two)) {
    report.rfSent = whole(two[0]);
    report.rfSentBytes = whole(two[1]);
  } else if (scan(line, "TX errors: {}", one)) {
    report.txErrors = whole(one[0]);
  } else if (scan(line, "Valid time reference (age: {} sec)", one) ||
             scan(line, "Valid gps time reference (age: {} sec)", one)) {
    report.timeReference = TimeReference::Valid;
    report.timeReferenceAge = whole(one[0]);
  } else if (scan(line, "Invalid time reference (age: {} sec)", one) ||
             scan(line, "Invalid gps time reference (age: {} sec)", one)) {
    report.timeReference = TimeReference::Invalid;
    report.timeReferenceAge = whole(one[0]);
  } else if (line == "GPS sync is disabled" || line == "GPS is disabled") {
    report.timeReference = TimeReference::Disabled;
  } else if (scan(line, "System GPS coordinates: latitude {}, longitude {}, altitude {} m",
                  three)) {
    report.gps = GpsPosition{three[0], three[1], three[2], "system"};
  } else if (scan(line, "GPS coordinates: latitude {}, longitude {}, altitude {} m", three)) {
    report.gps = GpsPosition{three[0], three[1], three[2], "gps"};
  } else if (scan(line, "Manual GPS coordinates: latitude {}, longitude {}, altitude {} m",
                  three)) {
    report.gps = GpsPosition{three[0], three[1], three[2], "manual"};
  } else if (scan(line, "GPS *FAKE* coordinates: latitude {}, longitude {}, altitude {} m",
                  three)) {
    report.gps = GpsPosition{three[0], three[1], three[2], "fake"};
  }
}

bool holdsEveryCounter(const LinkReport& r) {
  return r.rfReceived && r.crcOkPercent && r.rfForwarded && r.pushDataSent &&
         r.pushDataAckPercent && r.pullDataSent && r.pullRespReceived && r.rfSent && r.txErrors;
}

bool isDateLine(std::string_view line) {
  return line.size() > 12 && line.starts_with("##### ") && line.ends_with(" #####") &&
         line != "##### END #####";
}

// The time of a "##### 2026-12-09 21:05:00 GMT #####" line; nullopt for a date in any other
// form or zone.
std::optional<std::int64_t> dateOf(std::string_view line) {
  const std::string_view date = trim(line.substr(6, line.size() - 12));
  if (date.empty() || date.front() < '0' || date.front() > '9') return std::nullopt;
  if (!date.ends_with(" GMT") && !date.ends_with(" UTC")) return std::nullopt;
  return parseSystemdTimestamp(date);
}

}  // namespace

void LinkReportReader::feed(const JournalEntry& entry) {
  // A restarted forwarder never writes the rest of the report it had begun.
  if (open_ && entry.pid && openPid_ && *entry.pid != *openPid_) finish(Ending::Cut);
  linePid_ = entry.pid;
  line(entry.realtime, trim(entry.message));
}

void LinkReportReader::line(std::int64_t time, std::string_view text) {
  if (isDateLine(text)) {
    finish(Ending::NextReport);
    open(time, dateOf(text));
  } else if (text == "##### END #####") {
    if (!endLines_) {
      // The reports so far that ended at the next one's start were cut off.
      endLines_ = true;
      for (std::size_t i = 0; i < finished_.size(); ++i) {
        if (endedByNext_[i]) finished_[i].complete = false;
      }
    }
    finish(Ending::End);
  } else if (text == "### [UPSTREAM] ###") {
    // A forwarder that writes neither date nor end lines starts each report here.
    if (open_ && upstreamSeen_) finish(Ending::NextReport);
    if (!open_) open(time, std::nullopt);
    upstreamSeen_ = true;
  } else if (!open_) {
    return;
  } else if (text.starts_with("### ")) {
    inGps_ = text == "### [GPS] ###";
    if (text.starts_with("### GPS IS DISABLED")) {
      current_.timeReference = TimeReference::Disabled;
      current_.gpsBlock = true;
    }
  } else if (text.starts_with("# ")) {
    readLine(trim(text.substr(2)), current_);
    if (inGps_ || current_.timeReference || current_.gps) current_.gpsBlock = true;
  }
}

void LinkReportReader::open(std::int64_t time, std::optional<std::int64_t> written) {
  current_ = LinkReport();
  current_.arrival = time;
  current_.time = written.value_or(time);
  open_ = true;
  openPid_ = linePid_;
  upstreamSeen_ = false;
  inGps_ = false;
}

void LinkReportReader::finish(Ending ending) {
  if (open_ && (ending == Ending::End || holdsEveryCounter(current_))) {
    current_.complete = ending == Ending::End || (ending == Ending::NextReport && !endLines_);
    finished_.push_back(std::move(current_));
    endedByNext_.push_back(ending == Ending::NextReport);
  }
  open_ = false;
  openPid_.reset();
}

std::optional<LinkReport> LinkReportReader::openReport() const {
  if (!open_ || !holdsEveryCounter(current_)) return std::nullopt;
  LinkReport report = current_;
  report.complete = false;
  return report;
}

std::vector<LinkReport> LinkReportReader::snapshot() const {
  std::vector<LinkReport> reports;
  reports.reserve(finished_.size() + 1);
  reports.assign(finished_.begin(), finished_.end());
  if (std::optional<LinkReport> last = openReport()) reports.push_back(std::move(*last));
  return reports;
}

std::size_t LinkReportReader::dropOldest(std::int64_t arrival, std::size_t count) {
  std::size_t dropped = 0;
  while (!finished_.empty() && (finished_.front().arrival < arrival || finished_.size() > count)) {
    finished_.pop_front();
    endedByNext_.pop_front();
    ++dropped;
  }
  return dropped;
}

}  // namespace relaydash
