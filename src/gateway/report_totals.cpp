#include "gateway/report_totals.hpp"

#include <cmath>

namespace relaydash {
namespace {

std::uint64_t count(const std::optional<std::int64_t>& value) {
  return value && *value > 0 ? static_cast<std::uint64_t>(*value) : 0;
}

// The forwarder prints shares, not counts: "CRC_OK: 85.71%", "PUSH_DATA acknowledged: 66.67%".
std::uint64_t share(const std::optional<std::int64_t>& total,
                    const std::optional<double>& percent) {
  if (!percent || !std::isfinite(*percent)) return 0;
  const double part = static_cast<double>(count(total)) * *percent / 100.0;
  return part > 0 ? static_cast<std::uint64_t>(std::llround(part)) : 0;
}

void add(ForwarderTotals& t, const LinkReport& r) {
  ++t.reports;
  t.received += count(r.rfReceived);
  t.crcOk += share(r.rfReceived, r.crcOkPercent);
  t.crcFailed += share(r.rfReceived, r.crcFailPercent);
  t.forwarded += count(r.rfForwarded);
  t.pushSent += count(r.pushDataSent);
  t.pushAcknowledged += share(r.pushDataSent, r.pushDataAckPercent);
  t.pullSent += count(r.pullDataSent);
  t.pullAcknowledged += share(r.pullDataSent, r.pullDataAckPercent);
  t.downlinksSent += count(r.rfSent);
  t.txErrors += count(r.txErrors);
}

}  // namespace

void ReportTotals::take(const std::vector<LinkReport>& reports) {
  if (!started_) {
    started_ = true;
    if (!reports.empty()) last_ = Key{reports.back().arrival, reports.back().time};
    return;
  }
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const LinkReport& report = reports[i];
    const Key key{report.arrival, report.time};
    if (last_ && key <= *last_) continue;
    const bool final = report.complete || i + 1 < reports.size();
    if (!final) break;
    add(totals_, report);
    last_ = key;
  }
}

}  // namespace relaydash
