#include "gateway/plan_layout.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "gateway/concentrator_channels.hpp"
#include "gateway/config_rule_table.hpp"

namespace relaydash {
namespace {

using namespace config_rules;

// Radio centres are put on this grid where the channels allow: the numbers an operator expects.
constexpr std::int64_t kGridHz = 100'000;
constexpr std::int64_t kMhz = 1'000'000;

// What one enabled radio can tune on this concentrator.
struct RadioRange {
  int index = 0;
  std::string type;
  std::int64_t minHz = 0;
  std::int64_t maxHz = std::numeric_limits<std::int64_t>::max() / 4;
  std::optional<std::int64_t> currentHz;

  bool holds(std::int64_t hz) const { return hz >= minHz && hz <= maxHz; }
};

RadioRange rangeOf(int index, const FileRadio& radio, const Concentrator& c) {
  RadioRange range;
  range.index = index;
  range.type = radio.type;
  range.currentHz = radio.freqHz;
  if (c.maxRadioMhz != 0) {
    range.minHz = c.minRadioMhz * kMhz;
    range.maxHz = c.maxRadioMhz * kMhz;
  }
  if (radio.type.empty()) return range;
  if (std::find(c.radioTypes.begin(), c.radioTypes.end(), radio.type) == c.radioTypes.end())
    throw PlanRefused(radioKey(index) + " is of type \"" + radio.type + "\", which an " +
                      std::string(c.chip) + " concentrator does not take");
  for (const RadioType& t : kRadioTypes) {
    if (t.type != radio.type) continue;
    range.minHz = std::max(range.minHz, t.minMhz * kMhz);
    range.maxHz = std::min(range.maxHz, t.maxMhz * kMhz);
  }
  return range;
}

std::string rangeText(const RadioRange& r, const Concentrator& c) {
  const std::string tunes = mhzText(r.minHz) + " to " + mhzText(r.maxHz) + " MHz";
  if (r.type.empty())
    return radioKey(r.index) + " has no type, and an " + std::string(c.chip) +
           " concentrator tunes " + tunes;
  return radioKey(r.index) + " is an " + r.type + ", which tunes " + tunes;
}

// How far from its radio's centre a channel of this width may be.
std::int64_t offsetLimit(const Concentrator& c, std::int64_t bandwidthHz) {
  for (const HalfBand& band : c.halfBands) {
    if (band.maxBandwidthHz != 0 && bandwidthHz <= band.maxBandwidthHz)
      return band.halfBandHz - bandwidthHz / 2;
  }
  return -1;
}

struct Fit {
  std::int64_t centreHz = 0;
  // The least room any of the channels has left before its offset is refused.
  std::int64_t marginHz = 0;
};

// Where radio r must be to receive the channels, or nothing when no centre takes them all.
std::optional<Fit> fit(const std::vector<const PlanChannel*>& group, const RadioRange& r,
                       const Concentrator& c) {
  std::int64_t lo = r.minHz, hi = r.maxHz;
  for (const PlanChannel* ch : group) {
    const std::int64_t limit = offsetLimit(c, ch->bandwidthHz);
    if (limit < 0 || !r.holds(ch->freqHz)) return std::nullopt;
    lo = std::max(lo, ch->freqHz - limit);
    hi = std::min(hi, ch->freqHz + limit);
  }
  if (lo > hi) return std::nullopt;
  const auto [low, high] = std::minmax_element(
      group.begin(), group.end(), [](auto* a, auto* b) { return a->freqHz < b->freqHz; });
  const std::int64_t middle = ((*low)->freqHz + (*high)->freqHz) / 2;
  Fit result;
  result.centreHz = std::clamp((middle + kGridHz / 2) / kGridHz * kGridHz, lo, hi);
  result.marginHz = std::numeric_limits<std::int64_t>::max();
  for (const PlanChannel* ch : group) {
    result.marginHz = std::min(
        result.marginHz, offsetLimit(c, ch->bandwidthHz) - std::abs(ch->freqHz - result.centreHz));
  }
  return result;
}

// The channels shared out over the enabled radios, each radio's centre, and the radio of each
// channel.
struct Placement {
  std::array<std::optional<std::int64_t>, 2> centreHz;
  std::vector<int> radioOf;  // by the plan's channel order
  std::int64_t marginHz = std::numeric_limits<std::int64_t>::min();
  bool lowerOnFirst = true;
  std::size_t onFirst = 0;
  std::size_t onSecond = 0;

  // The most room at the worst channel; then the lower channels on the first radio, as the
  // vendors' files have them; then the channels shared out most evenly, the odd one on the first
  // radio.
  std::tuple<std::int64_t, bool, std::int64_t, std::size_t> rank() const {
    const auto first = static_cast<std::int64_t>(onFirst);
    const auto second = static_cast<std::int64_t>(onSecond);
    return {marginHz, lowerOnFirst, -std::abs(first - second), onFirst};
  }
};

// A radio left without channels keeps its centre where it can tune it.
std::int64_t idleCentre(const RadioRange& r, std::int64_t otherHz) {
  if (r.currentHz && r.holds(*r.currentHz)) return *r.currentHz;
  return std::clamp(otherHz, r.minHz, r.maxHz);
}

// The channels sorted by frequency, split once: the lower part on one radio, the upper on the
// other. Channels of one plan are all but equally wide, so a radio's channels are best neighbours
// in frequency; it is how the vendors' files share them too.
std::optional<Placement> place(const FrequencyPlan& plan, const std::vector<RadioRange>& radios,
                               const Concentrator& c) {
  std::vector<std::size_t> order(plan.channels.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return plan.channels[a].freqHz < plan.channels[b].freqHz;
  });
  std::optional<Placement> best;
  const std::size_t n = order.size();
  for (std::size_t split = radios.size() == 1 ? n : 0; split <= n; ++split) {
    for (std::size_t lowerRadio = 0; lowerRadio < radios.size(); ++lowerRadio) {
      std::array<std::vector<const PlanChannel*>, 2> groups;
      Placement candidate;
      candidate.radioOf.resize(n);
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t slot = i < split ? lowerRadio : 1 - lowerRadio;
        groups[slot].push_back(&plan.channels[order[i]]);
        candidate.radioOf[order[i]] = radios[slot].index;
      }
      bool fits = true;
      candidate.marginHz = std::numeric_limits<std::int64_t>::max();
      for (std::size_t slot = 0; slot < radios.size() && fits; ++slot) {
        if (groups[slot].empty()) continue;
        const std::optional<Fit> f = fit(groups[slot], radios[slot], c);
        fits = f.has_value();
        if (!fits) break;
        candidate.centreHz[radios[slot].index] = f->centreHz;
        candidate.marginHz = std::min(candidate.marginHz, f->marginHz);
      }
      if (!fits) continue;
      candidate.onFirst = groups[0].size();
      candidate.onSecond = groups[1].size();
      for (std::size_t slot = 0; slot < radios.size(); ++slot) {
        if (groups[slot].empty() && radios.size() == 2) {
          candidate.centreHz[radios[slot].index] =
              idleCentre(radios[slot], *candidate.centreHz[radios[1 - slot].index]);
        }
      }
      candidate.lowerOnFirst = lowerRadio == 0;
      if (!best || candidate.rank() > best->rank()) best = std::move(candidate);
    }
  }
  return best;
}

[[noreturn]] void refuse(const FrequencyPlan& plan, const std::vector<RadioRange>& radios,
                         const Concentrator& c) {
  const auto [low, high] = std::minmax_element(
      plan.channels.begin(), plan.channels.end(),
      [](const PlanChannel& a, const PlanChannel& b) { return a.freqHz < b.freqHz; });
  const std::string span = mhzText(low->freqHz) + " to " + mhzText(high->freqHz) + " MHz";
  bool tunable = true;
  for (const PlanChannel& ch : plan.channels) {
    tunable = tunable && std::any_of(radios.begin(), radios.end(),
                                     [&](const RadioRange& r) { return r.holds(ch.freqHz); });
  }
  if (!tunable) {
    std::string reason = plan.name + " needs " + span + ", beyond what the radios tune: ";
    for (std::size_t i = 0; i < radios.size(); ++i)
      reason += (i > 0 ? "; " : "") + rangeText(radios[i], c);
    throw PlanRefused(reason);
  }
  const std::string which =
      radios.size() == 1 ? radioKey(radios[0].index) + " alone" : "radio_0 and radio_1";
  throw PlanRefused(plan.name + "'s channels, " + span + ", do not fit " + which + " of an " +
                    std::string(c.chip) + " concentrator, where a radio receives a 125 kHz " +
                    // In kHz: the same digits as MHz of a thousand times the Hz.
                    "channel up to " + mhzText(offsetLimit(c, kMultiSfBandwidth) * 1000) +
                    " kHz either side of its centre");
}

// The patch of one concentrator section: a member is named only when its value changes.
class SectionPatch {
 public:
  explicit SectionPatch(const JsonNode& section) : section_(section) {}

  void set(const std::string& object, std::string_view member, JsonNodePtr value) {
    const JsonNodePtr current = section_.get(object);
    if (current && current->isObject() && same(current->get(member), *value)) return;
    JsonNodePtr target = changes_->get(object);
    if (!target) {
      target = newJObject();
      changes_->set(object, target);
    }
    target->set(std::string(member), std::move(value));
  }

  // Only a channel the file has is turned off.
  void disable(const std::string& object) {
    const JsonNodePtr current = section_.get(object);
    if (current && current->isObject()) set(object, "enable", newJBool(false));
  }

  JsonNodePtr changes() const { return changes_; }

 private:
  static bool same(const JsonNodePtr& current, const JsonNode& wanted) {
    if (!current) return false;
    if (current->isBool() && wanted.isBool()) return current->getBool() == wanted.getBool();
    if (current->isInt() && wanted.isInt()) return current->getInt() == wanted.getInt();
    const bool numbers = (current->isInt() || current->isFloat()) && wanted.isInt();
    return numbers && current->getFloat() == wanted.getFloat();
  }

  const JsonNode& section_;
  JsonNodePtr changes_ = newJObject();
};

}  // namespace

JsonNodePtr planPatch(const JsonNode& document, const FrequencyPlan& plan) {
  const std::optional<ConcentratorChannels> file = readConcentratorChannels(document);
  if (!file) throw PlanRefused("the file has neither SX1301_conf nor SX130x_conf");
  const Concentrator& c = *file->concentrator;
  std::vector<RadioRange> radios;
  for (int i = 0; i < 2; ++i) {
    if (file->radios[i].enabled) radios.push_back(rangeOf(i, file->radios[i], c));
  }
  if (radios.empty()) throw PlanRefused("no radio of " + std::string(c.section) + " is enabled");
  const std::optional<Placement> placement = place(plan, radios, c);
  if (!placement) refuse(plan, radios, c);

  const JsonNodePtr section = document.get(c.section);
  SectionPatch patch(*section);
  for (const RadioRange& r : radios)
    patch.set(radioKey(r.index), "freq", newJInt(*placement->centreHz[r.index]));
  for (int i = 0; i < 2; ++i) {
    if (!file->radios[i].present || !file->radios[i].txEnabled) continue;
    patch.set(radioKey(i), "tx_freq_min", newJInt(plan.txMinHz));
    patch.set(radioKey(i), "tx_freq_max", newJInt(plan.txMaxHz));
  }
  int multiSf = 0;
  bool loraStd = false, fsk = false;
  for (std::size_t i = 0; i < plan.channels.size(); ++i) {
    const PlanChannel& ch = plan.channels[i];
    const int radio = placement->radioOf[i];
    std::string key;
    if (ch.kind == ChannelKind::MultiSf) {
      key = std::string(kMultiSfPrefix) + std::to_string(multiSf++);
    } else {
      key = std::string(ch.kind == ChannelKind::LoraStd ? kLoraStd : kFsk);
      (ch.kind == ChannelKind::LoraStd ? loraStd : fsk) = true;
    }
    patch.set(key, "enable", newJBool(true));
    patch.set(key, "radio", newJInt(radio));
    patch.set(key, "if", newJInt(ch.freqHz - *placement->centreHz[radio]));
    if (ch.kind == ChannelKind::LoraStd) {
      patch.set(key, "bandwidth", newJInt(ch.bandwidthHz));
      patch.set(key, "spread_factor", newJInt(ch.spreadFactor));
    } else if (ch.kind == ChannelKind::Fsk) {
      patch.set(key, "bandwidth", newJInt(ch.bandwidthHz));
      patch.set(key, "datarate", newJInt(ch.datarate));
    }
  }
  for (int k = multiSf; k < 8; ++k)
    patch.disable(std::string(kMultiSfPrefix) + std::to_string(k));
  if (!loraStd) patch.disable(std::string(kLoraStd));
  if (!fsk) patch.disable(std::string(kFsk));

  JsonNodePtr result = newJObject();
  if (patch.changes()->size() > 0) result->set(std::string(c.section), patch.changes());
  return result;
}

}  // namespace relaydash
