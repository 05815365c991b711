// The frequency plans a forwarder file can be set to (forwarder-config/plans, with the patch that
// sets the file on the gateway to one, for review), and the plan an apply asks for in place of a
// patch.
#include <string>

#include "api/context.hpp"
#include "api/forwarder_config/forwarder_config.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/frequency_plan.hpp"
#include "gateway/plan_layout.hpp"
#include "gateway/plan_recognition.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "runtime/os_error.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

std::string_view kindName(ChannelKind kind) {
  switch (kind) {
    case ChannelKind::MultiSf:
      return "multiSF";
    case ChannelKind::LoraStd:
      return "loraStd";
    case ChannelKind::Fsk:
      return "fsk";
  }
  return "multiSF";
}

JsonNodePtr rangeJson(std::int64_t minHz, std::int64_t maxHz) {
  JsonNodePtr range = newJObject();
  range->set("min", newJInt(minHz));
  range->set("max", newJInt(maxHz));
  return range;
}

JsonNodePtr subBandJson(int subBand) {
  return subBand == 0 ? newJNull() : newJInt(subBand);
}

JsonNodePtr planJson(const FrequencyPlan& plan) {
  JsonNodePtr out = newJObject();
  out->set("region", newJString(plan.region));
  out->set("subBand", subBandJson(plan.subBand));
  out->set("name", newJString(plan.name));
  out->set("clause", newJString(plan.clause));
  out->set("note", newJString(plan.note));
  out->set("band", rangeJson(plan.bandMinHz, plan.bandMaxHz));
  out->set("tx", rangeJson(plan.txMinHz, plan.txMaxHz));
  JsonNodePtr channels = newJArray();
  for (const PlanChannel& channel : plan.channels) {
    JsonNodePtr item = newJObject();
    item->set("kind", newJString(std::string(kindName(channel.kind))));
    item->set("frequency", newJInt(channel.freqHz));
    item->set("bandwidth", newJInt(channel.bandwidthHz));
    if (channel.kind == ChannelKind::LoraStd)
      item->set("spreadFactor", newJInt(channel.spreadFactor));
    if (channel.kind == ChannelKind::Fsk) item->set("datarate", newJInt(channel.datarate));
    channels->add(std::move(item));
  }
  out->set("channels", std::move(channels));
  return out;
}

// What the file on the gateway implements; null when it cannot be read or parsed, or has no
// concentrator section.
JsonNodePtr currentJson(const std::string& path) {
  JsonNodePtr document;
  try {
    document = readConfigDocument(readTextFile(path));
  } catch (const OSError&) {
    return newJNull();
  } catch (const JsonParsingError&) {
    return newJNull();
  }
  const PlanRecognition recognised = recognisePlan(*document);
  if (!recognised.plan) return newJNull();
  JsonNodePtr out = newJObject();
  out->set("name", newJString(recognised.exact ? recognised.plan->name : "custom"));
  out->set("exact", newJBool(recognised.exact));
  out->set("region", newJString(recognised.plan->region));
  out->set("subBand", subBandJson(recognised.plan->subBand));
  out->set("nearest", newJString(recognised.plan->name));
  JsonNodePtr differences = newJArray();
  for (const std::string& difference : recognised.differences)
    differences->add(newJString(difference));
  out->set("differences", std::move(differences));
  return out;
}

}  // namespace

const FrequencyPlan& planOf(const Input& input) {
  const JsonNodePtr plan = input.required("plan");
  if (!plan->isObject()) {
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field plan is not an object");
  }
  for (const auto& member : plan->object()) {
    if (member.key != "region" && member.key != "subBand")
      raiseHttpException(400, ErrorCode::UnknownField, "Unknown field plan." + member.key);
  }
  const JsonNodePtr region = plan->get("region");
  if (!region || region->isNull())
    raiseHttpException(400, ErrorCode::MissingField, "Missing field plan.region");
  if (!region->isString() || region->isRawNumber())
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field plan.region is not a string");
  std::int64_t subBand = 0;
  if (const JsonNodePtr given = plan->get("subBand"); given && !given->isNull()) {
    if (!given->isInt()) {
      raiseHttpException(400, ErrorCode::InvalidFormat, "Field plan.subBand is not a whole number");
    }
    subBand = given->getInt();
  }
  const FrequencyPlan* found =
      subBand >= 0 && subBand <= 99
          ? findFrequencyPlan(region->getString(), static_cast<int>(subBand))
          : nullptr;
  if (!found) {
    raiseHttpException(400, ErrorCode::UnknownPlan,
                       "Unknown frequency plan: " + region->getString() +
                           (subBand ? " sub-band " + std::to_string(subBand) : std::string()));
  }
  return *found;
}

Task<JsonNodePtr> forwarderConfig_plans(Call& call) {
  const Input input(*call.body, {"plan"});
  const std::string& path = call.context.forwarderConfigPath;
  JsonNodePtr patch;
  if (input.has("plan")) {
    const FrequencyPlan& plan = planOf(input);
    JsonNodePtr document;
    try {
      document = readConfigDocument(readTextFile(path));
    } catch (const JsonParsingError& e) {
      raiseHttpException(409, ErrorCode::InvalidJsonFormat,
                         std::string("The configuration file does not parse (") + e.what() + ")");
    }
    try {
      patch = planPatch(*document, plan);
    } catch (const PlanRefused& e) {
      raiseHttpException(400, ErrorCode::PlanNotReceivable, e.what());
    }
  }
  JsonNodePtr plans = newJArray();
  for (const FrequencyPlan& plan : frequencyPlans())
    plans->add(planJson(plan));
  JsonNodePtr output = newJObject();
  output->set("plans", std::move(plans));
  output->set("current", currentJson(path));
  if (patch) output->set("patch", std::move(patch));
  co_return output;
}

}  // namespace relaydash
