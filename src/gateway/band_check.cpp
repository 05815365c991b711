#include "gateway/band_check.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "gateway/concentrator_channels.hpp"
#include "gateway/frequency_plan.hpp"
#include "gateway/plan_recognition.hpp"

namespace relaydash {
namespace {

struct Band {
  std::int64_t minHz;
  std::int64_t maxHz;
  std::string name;  // "EU868's 863–870 MHz"

  bool holds(std::int64_t hz) const { return hz >= minHz && hz <= maxHz; }
};

// The band the file's own transmit limits make, for a file that implements no plan.
std::optional<Band> transmitBand(const ConcentratorChannels& file) {
  std::optional<Band> band;
  for (const FileRadio& radio : file.radios) {
    if (!radio.present || !radio.txEnabled || !radio.txMinHz || !radio.txMaxHz) continue;
    if (!band) {
      band = Band{*radio.txMinHz, *radio.txMaxHz, ""};
    } else {
      band->minHz = std::min(band->minHz, *radio.txMinHz);
      band->maxHz = std::max(band->maxHz, *radio.txMaxHz);
    }
  }
  if (band)
    band->name = "the " + bandText(band->minHz, band->maxHz) + " of tx_freq_min and tx_freq_max";
  return band;
}

}  // namespace

std::vector<ConfigProblem> checkBand(const JsonNode& document) {
  return checkBand(document, nullptr);
}

std::vector<ConfigProblem> checkBand(const JsonNode& document, const FrequencyPlan* given) {
  const std::optional<ConcentratorChannels> file = readConcentratorChannels(document);
  if (!file) return {};
  const FrequencyPlan* plan = given;
  if (!plan) {
    const PlanRecognition recognised = recognisePlan(document);
    if (recognised.exact) plan = recognised.plan;
  }
  std::optional<Band> band;
  if (plan) {
    band = Band{plan->bandMinHz, plan->bandMaxHz,
                plan->name + "'s " + bandText(plan->bandMinHz, plan->bandMaxHz)};
  } else {
    band = transmitBand(*file);
  }
  if (!band) return {};

  std::vector<ConfigProblem> problems;
  const std::string& section = file->section;
  const auto outside = [&](std::string path, std::int64_t hz) {
    if (!band->holds(hz))
      problems.push_back({section + "." + std::move(path),
                          "is at " + mhzText(hz) + " MHz, outside " + band->name});
  };
  for (const FileChannel& ch : file->channels)
    outside(ch.key, ch.freqHz);
  for (int i = 0; i < 2; ++i) {
    const FileRadio& radio = file->radios[i];
    if (radio.enabled && radio.freqHz) outside(radioKey(i) + ".freq", *radio.freqHz);
    if (!plan || !radio.present || !radio.txEnabled) continue;
    if (radio.txMinHz) outside(radioKey(i) + ".tx_freq_min", *radio.txMinHz);
    if (radio.txMaxHz) outside(radioKey(i) + ".tx_freq_max", *radio.txMaxHz);
  }
  return problems;
}

}  // namespace relaydash
