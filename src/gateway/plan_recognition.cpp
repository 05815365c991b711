#include "gateway/plan_recognition.hpp"

#include <algorithm>
#include <optional>

#include "gateway/concentrator_channels.hpp"

namespace relaydash {
namespace {

// What makes two channels the same one: a multi-SF channel and a single-SF LoRa channel of the
// same width are different channels to the network server.
struct ChannelId {
  ChannelKind kind;
  std::int64_t freqHz;
  std::int64_t bandwidthHz;

  bool operator==(const ChannelId&) const = default;
  std::string text() const { return channelText(kind, freqHz, bandwidthHz); }
};

PlanRecognition compare(const std::vector<ChannelId>& file, const FrequencyPlan& plan) {
  std::vector<ChannelId> wanted;
  for (const PlanChannel& ch : plan.channels)
    wanted.push_back({ch.kind, ch.freqHz, ch.bandwidthHz});
  PlanRecognition result;
  result.plan = &plan;
  std::vector<bool> found(wanted.size());
  for (const ChannelId& id : file) {
    const auto at = std::find(wanted.begin(), wanted.end(), id);
    if (at == wanted.end()) {
      result.differences.push_back("channel " + id.text() + " is not in " + plan.name);
    } else if (found[at - wanted.begin()]) {
      result.differences.push_back("channel " + id.text() + " is there twice");
    } else {
      found[at - wanted.begin()] = true;
    }
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (!found[i])
      result.differences.push_back(plan.name + "'s " + wanted[i].text() + " is missing");
  }
  result.exact = result.differences.empty();
  return result;
}

}  // namespace

PlanRecognition recognisePlan(const JsonNode& document) {
  const std::optional<ConcentratorChannels> channels = readConcentratorChannels(document);
  if (!channels) return {};
  std::vector<ChannelId> file;
  for (const FileChannel& ch : channels->channels)
    file.push_back({ch.kind, ch.freqHz, ch.bandwidthHz});
  std::optional<PlanRecognition> nearest;
  for (const FrequencyPlan& plan : frequencyPlans()) {
    PlanRecognition candidate = compare(file, plan);
    if (candidate.exact) return candidate;
    if (!nearest || candidate.differences.size() < nearest->differences.size())
      nearest = std::move(candidate);
  }
  return std::move(*nearest);
}

}  // namespace relaydash
