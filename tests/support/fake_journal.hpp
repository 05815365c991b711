#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash::testing {

// Builds journal entries as `journalctl --output=json` prints them, with the fields a real entry
// of a service carries, for the fake journalctl.
class FakeJournal {
 public:
  explicit FakeJournal(std::string unit, std::int64_t start = 1'765'000'000'000'000)
      : unit_(std::move(unit)), time_(start) {}

  // An entry with a text message, `seconds` after the previous one.
  std::string text(std::string_view message, int priority = 6, double seconds = 0.5) {
    std::string quoted = "\"";
    quoted += escape(message);
    quoted += '"';
    return entry(quoted, priority, seconds);
  }
  // An entry whose message the journal keeps as bytes (not UTF-8, or with control characters).
  std::string bytes(std::string_view message, int priority = 6, double seconds = 0.5) {
    std::string array = "[";
    for (const char c : message) {
      if (array.size() > 1) array += ",";
      array += std::to_string(static_cast<unsigned char>(c));
    }
    return entry(array + "]", priority, seconds);
  }
  // Lines of text, one entry each, a few milliseconds apart: how a program's printf reaches the
  // journal.
  std::vector<std::string> lines(const std::vector<std::string>& messages, double firstAfter) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < messages.size(); ++i)
      out.push_back(text(messages[i], 6, i == 0 ? firstAfter : 0.001));
    return out;
  }

  std::string cursor(int index) const {
    char text[160];
    std::snprintf(text, sizeof text,
                  "s=8d3f6b0e2a6d4c6fb1e0e0c1a7f0c2d1;i=%x;b=5e1c0a5b4f3e4c2a9a8b7c6d5e4f3a2b;"
                  "m=%llx;t=%llx;x=%x",
                  index, static_cast<unsigned long long>(index) * 1000,
                  static_cast<unsigned long long>(1'765'000'000'000'000 + index), index * 7919);
    return text;
  }
  std::string lastCursor() const { return cursor(index_); }
  // The process id of the entries from now on (1234 at first): a restarted service.
  void pid(int id) { pid_ = id; }
  std::int64_t lastTime() const { return time_; }

 private:
  static std::string escape(std::string_view s) {
    std::string out;
    for (const char c : s) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out;
  }

  std::string entry(const std::string& message, int priority, double seconds) {
    ++index_;
    time_ += static_cast<std::int64_t>(seconds * 1e6);
    return "{\"__CURSOR\":\"" + cursor(index_) + "\",\"__REALTIME_TIMESTAMP\":\"" +
           std::to_string(time_) + "\",\"__MONOTONIC_TIMESTAMP\":\"" +
           std::to_string(index_ * 1000) +
           "\",\"_BOOT_ID\":\"5e1c0a5b4f3e4c2a9a8b7c6d5e4f3a2b\",\"PRIORITY\":\"" +
           std::to_string(priority) +
           "\",\"SYSLOG_FACILITY\":\"3\",\"SYSLOG_IDENTIFIER\":\"lora_pkt_fwd\",\"_PID\":\"" +
           std::to_string(pid_) + "\",\"_COMM\":\"lora_pkt_fwd\",\"_SYSTEMD_UNIT\":\"" + unit_ +
           ".service\",\"MESSAGE\":" + message + "}";
  }

  std::string unit_;
  std::int64_t time_;
  int index_ = 0;
  int pid_ = 1234;
};

// The lines of one statistics report as the packet forwarder prints them.
inline std::vector<std::string> statisticsReport(const std::string& date, int received,
                                                 const std::string& pushAck,
                                                 const std::string& pullAck = "100.00") {
  return {
      "##### " + date + " GMT #####",
      "### [UPSTREAM] ###",
      "# RF packets received by concentrator: " + std::to_string(received),
      "# CRC_OK: 83.33%, CRC_FAIL: 16.67%, NO_CRC: 0.00%",
      "# RF packets forwarded: " + std::to_string(received) + " (" + std::to_string(received * 23) +
          " bytes)",
      "# PUSH_DATA datagrams sent: " + std::to_string(received + 1) + " (" +
          std::to_string(received * 150 + 220) + " bytes)",
      "# PUSH_DATA acknowledged: " + pushAck + "%",
      "### [DOWNSTREAM] ###",
      "# PULL_DATA sent: 3 (" + pullAck + "% acknowledged)",
      "# PULL_RESP(onse) datagrams received: 1 (156 bytes)",
      "# RF packets sent to concentrator: 1 (17 bytes)",
      "# TX errors: 0",
      "### [GPS] ###",
      "# Valid time reference (age: 1 sec)",
      "# GPS coordinates: latitude 52.37403, longitude 4.88969, altitude 12 m",
      "##### END #####",
  };
}

}  // namespace relaydash::testing
