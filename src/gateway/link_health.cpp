#include "gateway/link_health.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

// Entries read for one hour of reports: about 25 lines a report every 30 s, and room for the
// forwarder's other lines.
constexpr int kMaxEntries = 20'000;

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

// How a report ended.
enum class Ending { End, NextReport, Cut };

class ReportReader {
 public:
  void line(std::int64_t time, std::string_view text) {
    if (isDateLine(text)) {
      finish(Ending::NextReport);
      open(time, dateOf(text));
    } else if (text == "##### END #####") {
      endLines_ = true;
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

  std::vector<LinkReport> done() && {
    finish(Ending::Cut);
    // The next report's start ends one only for a forwarder that writes no end lines; from one
    // that does, the report before it was cut off.
    for (std::size_t i = 0; i < reports_.size(); ++i) {
      if (endings_[i] == Ending::NextReport) reports_[i].complete = !endLines_;
    }
    return std::move(reports_);
  }

 private:
  void open(std::int64_t time, std::optional<std::int64_t> written) {
    current_ = LinkReport();
    current_.arrival = time;
    current_.time = written.value_or(time);
    open_ = true;
    upstreamSeen_ = false;
    inGps_ = false;
  }
  void finish(Ending ending) {
    if (open_ && (ending == Ending::End || holdsEveryCounter(current_))) {
      current_.complete = ending == Ending::End;
      reports_.push_back(std::move(current_));
      endings_.push_back(ending);
    }
    open_ = false;
  }

  // A plain member and a flag rather than an optional: g++ 12 at -O3 takes the optional's
  // nested optionals for uninitialised.
  LinkReport current_;
  bool open_ = false;
  bool upstreamSeen_ = false;
  bool inGps_ = false;
  bool endLines_ = false;  // the forwarder ends its reports with "##### END #####"
  std::vector<LinkReport> reports_;
  std::vector<Ending> endings_;
};

}  // namespace

std::vector<LinkReport> parseLinkReports(const std::vector<JournalEntry>& entries) {
  ReportReader reader;
  for (const JournalEntry& entry : entries)
    reader.line(entry.realtime, trim(entry.message));
  return std::move(reader).done();
}

Task<std::vector<LinkReport>> readLinkReports(std::string unit, int windowSeconds) {
  JournalQuery query;
  query.unit = std::move(unit);
  query.lines = kMaxEntries;
  std::string since = "-";
  since += std::to_string(windowSeconds);
  since += 's';
  query.since = std::move(since);
  query.newestFirst = true;
  query.fields = "MESSAGE";
  std::vector<JournalEntry> entries = co_await readJournal(std::move(query));
  std::reverse(entries.begin(), entries.end());
  co_return parseLinkReports(entries);
}

}  // namespace relaydash
