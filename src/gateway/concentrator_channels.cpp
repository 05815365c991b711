#include "gateway/concentrator_channels.hpp"

#include <cmath>
#include <string_view>

#include "gateway/config_rule_table.hpp"

namespace relaydash {
namespace {

using namespace config_rules;

// The concentrator has eight multi-SF demodulators: chan_multiSF_8 and up are never read.
constexpr int kMultiSfChannels = 8;

std::optional<std::int64_t> hzOf(const JsonNodePtr& node) {
  if (!node || !(node->isInt() || node->isFloat())) return std::nullopt;
  if (node->isInt()) return node->getInt();
  const double value = node->getFloat();
  if (!std::isfinite(value) || std::abs(value) > 1e12) return std::nullopt;
  return std::llround(value);
}

bool isTrue(const JsonNodePtr& node) {
  return node && node->isBool() && node->getBool();
}

FileRadio radioOf(const JsonNodePtr& node) {
  FileRadio radio;
  if (!node || !node->isObject()) return radio;
  radio.present = true;
  radio.enabled = isTrue(node->get("enable"));
  if (const JsonNodePtr type = node->get("type"); type && type->isString() && !type->isRawNumber())
    radio.type = type->getString();
  radio.freqHz = hzOf(node->get("freq"));
  radio.txEnabled = isTrue(node->get("tx_enable"));
  radio.txMinHz = hzOf(node->get("tx_freq_min"));
  radio.txMaxHz = hzOf(node->get("tx_freq_max"));
  return radio;
}

// The channel's width as the concentrator takes it, as the configuration rules work it out;
// nothing for one the forwarder refuses.
std::optional<std::int64_t> bandwidthOf(const JsonNode& channel, ChannelKind kind) {
  if (kind == ChannelKind::MultiSf) return kMultiSfBandwidth;
  if (kind == ChannelKind::LoraStd) {
    const std::optional<std::int64_t> given = hzOf(channel.get("bandwidth"));
    for (const std::int64_t allowed : kLoraStdBandwidths) {
      if (given == allowed) return allowed;
    }
    return std::nullopt;
  }
  std::int64_t hz = hzOf(channel.get("bandwidth")).value_or(0);
  if (hz == 0) {
    hz = 2 * hzOf(channel.get("freq_deviation")).value_or(0) +
         hzOf(channel.get("datarate")).value_or(0);
  }
  if (hz < 0) return std::nullopt;
  for (const std::int64_t step : kFskSteps) {
    if (hz <= step) return step;
  }
  return std::nullopt;
}

}  // namespace

std::string radioKey(int radio) {
  return std::string(kRadioPrefix) + std::to_string(radio);
}

std::optional<ConcentratorChannels> readConcentratorChannels(const JsonNode& document) {
  for (const Concentrator& c : kConcentrators) {
    const JsonNodePtr section = document.get(c.section);
    if (!section || !section->isObject()) continue;
    ConcentratorChannels result;
    result.concentrator = &c;
    result.section = c.section;
    for (int i = 0; i < 2; ++i)
      result.radios[i] = radioOf(section->get(radioKey(i)));
    for (const JsonMember& member : section->object()) {
      ChannelKind kind;
      if (member.key == kLoraStd) {
        kind = ChannelKind::LoraStd;
      } else if (member.key == kFsk) {
        kind = ChannelKind::Fsk;
      } else {
        bool slot = false;
        for (int n = 0; n < kMultiSfChannels; ++n)
          slot = slot || member.key == std::string(kMultiSfPrefix) + std::to_string(n);
        if (!slot) continue;
        kind = ChannelKind::MultiSf;
      }
      const JsonNode& channel = *member.value;
      if (!channel.isObject() || !isTrue(channel.get("enable"))) continue;
      const std::optional<std::int64_t> radio = hzOf(channel.get("radio"));
      const std::optional<std::int64_t> offset = hzOf(channel.get("if"));
      const std::optional<std::int64_t> width = bandwidthOf(channel, kind);
      if (!radio || (*radio != 0 && *radio != 1) || !offset || !width) continue;
      const FileRadio& r = result.radios[*radio];
      if (!r.enabled || !r.freqHz) continue;
      result.channels.push_back(
          {member.key, kind, static_cast<int>(*radio), *r.freqHz + *offset, *width});
    }
    return result;
  }
  return std::nullopt;
}

}  // namespace relaydash
