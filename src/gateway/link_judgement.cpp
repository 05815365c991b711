#include "gateway/link_judgement.hpp"

#include <cmath>
#include <cstdio>

namespace relaydash {
namespace {

bool sent(const std::optional<std::int64_t>& count) {
  return count && *count > 0;
}

bool acknowledged(const std::optional<double>& percent) {
  return percent && *percent > 0;
}

// One kind of datagram in the first report after the change.
struct Kind {
  const char* name;
  std::optional<double> before;
  std::optional<double> after;  // nullopt: none sent in that report
  bool lost() const { return acknowledged(before) && !acknowledged(after) && after.has_value(); }
};

}  // namespace

std::string percentText(double percent) {
  char text[32];
  const double rounded = std::round(percent * 10) / 10;
  if (rounded == std::floor(rounded)) {
    std::snprintf(text, sizeof text, "%.0f %%", rounded);
  } else {
    std::snprintf(text, sizeof text, "%.1f %%", rounded);
  }
  return text;
}

LinkBefore linkBefore(const std::vector<LinkReport>& reports, std::int64_t timeUtc) {
  LinkBefore before;
  for (const LinkReport& r : reports) {
    if (r.time >= timeUtc) continue;
    if (sent(r.pushDataSent)) before.pushAckPercent = r.pushDataAckPercent;
    if (sent(r.pullDataSent)) before.pullAckPercent = r.pullDataAckPercent;
  }
  return before;
}

LinkAfter linkAfter(const LinkBefore& before, const std::vector<LinkReport>& reports,
                    std::int64_t timeUtc) {
  LinkAfter result;
  const LinkReport* first = nullptr;
  for (const LinkReport& r : reports) {
    if (r.time > timeUtc && (sent(r.pushDataSent) || sent(r.pullDataSent))) {
      first = &r;
      break;
    }
  }
  if (!first) return result;
  const Kind kinds[] = {
      {"PUSH_DATA", before.pushAckPercent,
       sent(first->pushDataSent) ? first->pushDataAckPercent.value_or(0) : std::optional<double>()},
      {"PULL_DATA", before.pullAckPercent,
       sent(first->pullDataSent) ? first->pullDataAckPercent.value_or(0) : std::optional<double>()},
  };
  std::string lost;
  std::string seen;
  for (const Kind& kind : kinds) {
    if (!kind.after) continue;
    std::string part = std::string(kind.name) + " acknowledged " + percentText(*kind.after);
    if (kind.lost()) {
      lost += (lost.empty() ? "" : ", ") + part + " (" + percentText(*kind.before) + " before)";
    }
    seen += (seen.empty() ? "" : ", ") + part;
  }
  constexpr const char* kWhere = " in the first report after the change";
  if (!lost.empty()) {
    result.state = LinkAfter::State::Lost;
    result.text = "the network server stopped acknowledging after the change: " + lost + kWhere;
    return result;
  }
  result.state = LinkAfter::State::Kept;
  result.text = seen + kWhere;
  const bool anyAcked = acknowledged(kinds[0].after) || acknowledged(kinds[1].after);
  const bool ackedBefore =
      acknowledged(before.pushAckPercent) || acknowledged(before.pullAckPercent);
  if (!anyAcked) {
    result.text += ackedBefore ? "" : "; the network server did not acknowledge before it either";
  }
  if (!kinds[0].after) result.text += " (it sent no PUSH_DATA)";
  return result;
}

}  // namespace relaydash
