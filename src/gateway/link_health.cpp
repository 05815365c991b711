#include "gateway/link_health.hpp"

#include <algorithm>

#include "gateway/link_report_reader.hpp"

namespace relaydash {
namespace {

// Entries read for one hour of reports: about 25 lines a report every 30 s, and room for the
// forwarder's other lines.
constexpr int kMaxEntries = 20'000;

}  // namespace

JournalQuery linkReportQuery(std::string unit, int windowSeconds) {
  JournalQuery query;
  query.unit = std::move(unit);
  query.lines = kMaxEntries;
  std::string since = "-";
  since += std::to_string(windowSeconds);
  since += 's';
  query.since = std::move(since);
  query.newestFirst = true;
  query.fields = kLinkReportFields;
  return query;
}

std::vector<LinkReport> parseLinkReports(const std::vector<JournalEntry>& entries) {
  LinkReportReader reader;
  for (const JournalEntry& entry : entries)
    reader.feed(entry);
  return reader.snapshot();
}

Task<std::vector<LinkReport>> readLinkReports(std::string unit, int windowSeconds) {
  std::vector<JournalEntry> entries =
      co_await readJournal(linkReportQuery(std::move(unit), windowSeconds));
  std::reverse(entries.begin(), entries.end());
  co_return parseLinkReports(entries);
}

}  // namespace relaydash
