#pragma once

#include <string>
#include <vector>

#include "gateway/frequency_plan.hpp"
#include "json/value.hpp"

namespace relaydash {

// Which plan a forwarder file implements.
struct PlanRecognition {
  // The plan the file's enabled channels are, frequency and bandwidth alike (exact); otherwise the
  // plan they differ least from, nullptr only when the file has no concentrator section.
  const FrequencyPlan* plan = nullptr;
  bool exact = false;  // false: a custom plan
  // What sets the file apart from `plan`, empty when exact: first the file's channels the plan
  // does not have ("channel 868.9 MHz is not in EU868", or there twice), in the file's order, then
  // the plan's channels the file lacks ("EU868's 867.1 MHz is missing"), in the plan's order.
  std::vector<std::string> differences;
};

// Reads the channels as readConcentratorChannels does (a channel counts when it is enabled on an
// enabled radio) and compares them with every plan of frequencyPlans(): of two plans equally
// near, the first.
PlanRecognition recognisePlan(const JsonNode& document);

}  // namespace relaydash
