#include "gateway/config_rules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "gateway/config_rule_table.hpp"

namespace relaydash {
namespace {

using namespace config_rules;

constexpr std::string_view kMustBeObject = "must be an object";
constexpr std::string_view kMustBeForwarderConfig =
    "must have gateway_conf and SX1301_conf or SX130x_conf: without them it is no forwarder "
    "configuration";
constexpr std::string_view kMustBeGatewayId = "must be 16 hexadecimal digits";
constexpr std::string_view kMustBeAddress = "must be a host name or IP address, not empty";
constexpr std::string_view kMustBeShortAddress =
    "must be at most 63 bytes long: the forwarder cuts it to 63";
constexpr std::string_view kMustBePort = "must be a whole number from 1 to 65535";
constexpr std::string_view kMustBeBoolean = "must be true or false";
constexpr std::string_view kMustBeKeepalive =
    "must be a whole number of seconds from 1 up: at 0 the forwarder sends the network server "
    "some 200,000 PULL_DATA a second";
constexpr std::string_view kMustBeStatInterval =
    "must be a whole number of seconds from 1 up: at 0, or as text, the forwarder floods the "
    "journal with some 200,000 statistics reports a second";
constexpr std::string_view kMustBeBeaconPeriod =
    "must be 0 (no beacon) or a whole number of seconds from 6 up";
constexpr std::string_view kMustBeTypeText =
    "must be the radio's type as a text: the forwarder crashes (SIGSEGV) on an enabled radio "
    "without one";
constexpr std::string_view kMustBeRadioZeroOrOne =
    "must be 0 or 1: there are only radio_0 and radio_1";
constexpr std::string_view kLoraStdRefused = "invalid configuration for Lora standard channel";
constexpr std::string_view kFskRefused = "invalid configuration for FSK channel";

// Numbers as the forwarder sees them: a literal too wide for 64 bits is still a number.
bool isNumber(const JsonNode& node) {
  return node.isInt() || node.isFloat() || node.isRawNumber();
}

double numberOf(const JsonNode& node) {
  return node.isRawNumber() ? std::strtod(node.getString().c_str(), nullptr) : node.getFloat();
}

bool isWholeNumber(const JsonNode& node) {
  return isNumber(node) && std::trunc(numberOf(node)) == numberOf(node);
}

bool isText(const JsonNode& node) {
  return node.isString() && !node.isRawNumber();
}

bool isTrue(const JsonNodePtr& node) {
  return node && node->isBool() && node->getBool();
}

bool isFalse(const JsonNodePtr& node) {
  return node && node->isBool() && !node->getBool();
}

// "737.5" for 737500 Hz.
std::string khzText(std::int64_t hz) {
  std::string text = std::to_string(hz / 1000);
  if (std::int64_t rest = hz % 1000; rest != 0) {
    std::string fraction = std::to_string(1000 + rest).substr(1);
    while (fraction.back() == '0')
      fraction.pop_back();
    text += "." + fraction;
  }
  return text;
}

// "radio_3" → 3; -1 for a name without the prefix and digits after it.
long numberAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return -1;
  long n = 0;
  for (const char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9' || n > 1'000'000) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// "\"SX1250\", \"SX1255\" or \"SX1257\"".
std::string typesText(const Concentrator& c) {
  std::string text;
  std::size_t count = 0;
  for (const std::string_view type : c.radioTypes)
    count += type.empty() ? 0 : 1;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += i + 1 == count ? " or " : ", ";
    text.append(1, '"').append(c.radioTypes[i]).append(1, '"');
  }
  return text;
}

// What an enabled radio of a type can tune on a concentrator: its own range, cut to what the
// concentrator's HAL takes.
struct Tuning {
  std::string_view type;
  std::int64_t minMhz;
  std::int64_t maxMhz;
  // Where the cut applies, a message names the concentrator.
  std::string onChip;

  bool holds(double hz) const {
    return hz >= static_cast<double>(minMhz) * 1e6 && hz <= static_cast<double>(maxMhz) * 1e6;
  }
  std::string rangeText() const {
    return std::to_string(minMhz) + " to " + std::to_string(maxMhz) + " MHz";
  }
};

// Nothing for a radio whose type the concentrator does not take.
std::optional<Tuning> tuning(const JsonNode& radio, const Concentrator& c) {
  const JsonNodePtr type = radio.get("type");
  if (!type || !isText(*type)) return std::nullopt;
  if (std::find(c.radioTypes.begin(), c.radioTypes.end(), type->getString()) == c.radioTypes.end())
    return std::nullopt;
  for (const RadioType& t : kRadioTypes) {
    if (type->getString() != t.type) continue;
    Tuning result{t.type, t.minMhz, t.maxMhz, ""};
    if (c.maxRadioMhz != 0) {
      result.minMhz = std::max(result.minMhz, c.minRadioMhz);
      result.maxMhz = std::min(result.maxMhz, c.maxRadioMhz);
    }
    if (result.minMhz != t.minMhz || result.maxMhz != t.maxMhz)
      result.onChip = " on an " + std::string(c.chip) + " concentrator";
    return result;
  }
  return std::nullopt;
}

// The half band a channel of this bandwidth must fit in.
std::int64_t halfBand(const Concentrator& c, std::int64_t bandwidth) {
  for (const HalfBand& band : c.halfBands) {
    if (band.maxBandwidthHz != 0 && bandwidth <= band.maxBandwidthHz) return band.halfBandHz;
  }
  return 0;
}

class Checker {
 public:
  std::vector<ConfigProblem> run(const JsonNode& document) {
    if (!document.isObject()) {
      add("", kMustBeObject);
      return std::move(problems_);
    }
    for (const std::string_view section : kSections) {
      const JsonNodePtr value = document.get(section);
      if (value && !value->isObject()) add(std::string(section), kMustBeObject);
    }
    if (!document.hasKey("gateway_conf") ||
        (!document.hasKey("SX1301_conf") && !document.hasKey("SX130x_conf")))
      add("", kMustBeForwarderConfig);
    if (const JsonNodePtr gateway = document.get("gateway_conf"); gateway && gateway->isObject())
      gatewaySection(*gateway);
    for (const Concentrator& c : kConcentrators) {
      const JsonNodePtr section = document.get(c.section);
      if (section && section->isObject()) concentrator(*section, c);
    }
    return std::move(problems_);
  }

 private:
  void add(std::string path, std::string_view message) {
    problems_.push_back({std::move(path), std::string(message)});
  }

  template <std::size_t N>
  void booleans(const JsonNode& object, const std::string& path,
                const std::array<std::string_view, N>& names) {
    for (const std::string_view name : names) {
      // A dotted name reaches into nested objects; a level that is not there has nothing to check.
      const JsonNode* node = &object;
      std::string_view rest = name;
      JsonNodePtr value;
      for (;;) {
        const std::size_t dot = rest.find('.');
        value = node->get(rest.substr(0, dot));
        if (!value || dot == std::string_view::npos) break;
        if (!value->isObject()) {
          value = nullptr;
          break;
        }
        node = value.get();
        rest.remove_prefix(dot + 1);
      }
      if (value && !value->isBool()) add(path + "." + std::string(name), kMustBeBoolean);
    }
  }

  template <std::size_t N>
  void numbers(const JsonNode& object, const std::string& path,
               const std::array<NumberMember, N>& members) {
    for (const NumberMember& member : members) {
      const JsonNodePtr value = object.get(member.name);
      if (value && !isNumber(*value)) add(path + "." + std::string(member.name), member.message);
    }
  }

  // A member that must be a whole number of at least min, where present.
  void wholeFrom(const JsonNode& object, const std::string& path, std::string_view name, double min,
                 std::string_view message) {
    const JsonNodePtr value = object.get(name);
    if (value && (!isWholeNumber(*value) || numberOf(*value) < min))
      add(path + "." + std::string(name), message);
  }

  void server(const JsonNode& object, const std::string& path) {
    if (const JsonNodePtr address = object.get("server_address"); address) {
      if (!isText(*address) || address->getString().empty()) {
        add(path + ".server_address", kMustBeAddress);
      } else if (address->getString().size() > kMaxAddressBytes) {
        add(path + ".server_address", kMustBeShortAddress);
      }
    }
    for (const std::string_view port : kPorts) {
      const JsonNodePtr value = object.get(port);
      if (value && (!isWholeNumber(*value) || numberOf(*value) < 1 || numberOf(*value) > 65535))
        add(path + "." + std::string(port), kMustBePort);
    }
  }

  void gatewaySection(const JsonNode& gateway) {
    const std::string path = "gateway_conf";
    if (const JsonNodePtr id = gateway.get("gateway_ID"); id && !isGatewayId(*id))
      add(path + ".gateway_ID", kMustBeGatewayId);
    server(gateway, path);
    booleans(gateway, path, kGatewayBooleans);
    numbers(gateway, path, kGatewayNumbers);
    wholeFrom(gateway, path, "keepalive_interval", 1, kMustBeKeepalive);
    wholeFrom(gateway, path, "stat_interval", 1, kMustBeStatInterval);
    if (const JsonNodePtr period = gateway.get("beacon_period");
        period && !(isNumber(*period) && numberOf(*period) == 0))
      wholeFrom(gateway, path, "beacon_period", 6, kMustBeBeaconPeriod);
    const JsonNodePtr servers = gateway.get("servers");
    if (!servers || !servers->isArray()) return;
    for (std::size_t i = 0; i < servers->array().size(); ++i) {
      const JsonNode& entry = *servers->array()[i];
      const std::string entryPath = path + ".servers[" + std::to_string(i) + "]";
      if (!entry.isObject()) {
        add(entryPath, kMustBeObject);
        continue;
      }
      server(entry, entryPath);
      booleans(entry, entryPath, kServerBooleans);
    }
  }

  static bool isGatewayId(const JsonNode& id) {
    if (!isText(id) || id.getString().size() != 16) return false;
    for (const char c : id.getString()) {
      const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex) return false;
    }
    return true;
  }

  void concentrator(const JsonNode& section, const Concentrator& c) {
    const std::string path(c.section);
    booleans(section, path, kConcentratorBooleans);
    numbers(section, path, kConcentratorNumbers);
    for (const JsonMember& member : section.object()) {
      if (numberAfter(member.key, kGainPrefix) >= 0 && member.value->isObject())
        numbers(*member.value, path + "." + member.key, kGainNumbers);
    }
    for (const std::string_view name : kRadios) {
      const JsonNodePtr value = section.get(name);
      if (value && value->isObject()) radio(*value, path + "." + std::string(name), c);
    }
    for (const JsonMember& member : section.object()) {
      if (!isChannel(member.key) || !member.value->isObject()) continue;
      channel(section, *member.value, member.key, c);
    }
  }

  static bool isChannel(std::string_view key) {
    return numberAfter(key, kMultiSfPrefix) >= 0 || key == kLoraStd || key == kFsk;
  }

  void radio(const JsonNode& radio, const std::string& path, const Concentrator& c) {
    booleans(radio, path, kRadioBooleans);
    numbers(radio, path, kRadioNumbers);
    if (const JsonNodePtr lut = radio.get("tx_gain_lut"); lut && lut->isArray()) {
      for (std::size_t i = 0; i < lut->array().size(); ++i) {
        const JsonNode& entry = *lut->array()[i];
        if (entry.isObject())
          numbers(entry, path + ".tx_gain_lut[" + std::to_string(i) + "]", kGainNumbers);
      }
    }
    if (c.needsBothRadios && isFalse(radio.get("enable"))) {
      add(path + ".enable", "must be true: the " + std::string(c.chip) +
                                " needs both radios (the forwarder: \"invalid configuration "
                                "for radio " +
                                path.substr(path.rfind('_') + 1) + "\")");
    }
    if (!isTrue(radio.get("enable"))) return;
    const JsonNodePtr type = radio.get("type");
    if ((!type && c.typeRequired) || (type && !isText(*type))) {
      add(path + ".type", kMustBeTypeText);
    } else if (type && !tuning(radio, c)) {
      add(path + ".type", "must be " + typesText(c) + " on an " + std::string(c.chip) +
                              " concentrator (the forwarder: \"invalid radio type\")");
    }
    const JsonNodePtr freq = radio.get("freq");
    const std::optional<Tuning> range = tuning(radio, c);
    if (!freq || !isNumber(*freq) || !range || range->holds(numberOf(*freq))) return;
    add(path + ".freq", "must be from " + range->rangeText() + " for an " +
                            std::string(range->type) + " radio" + range->onChip);
  }

  // The channel's bandwidth as the concentrator takes it; nothing when it cannot be known, or
  // is refused (which is then said).
  std::optional<std::int64_t> bandwidth(const JsonNode& channel, const std::string& path,
                                        std::string_view key) {
    if (key == kLoraStd) {
      const JsonNodePtr value = channel.get("bandwidth");
      if (value && !isNumber(*value)) return std::nullopt;
      const double hz = value ? numberOf(*value) : 0;
      for (const std::int64_t allowed : kLoraStdBandwidths) {
        if (hz == static_cast<double>(allowed)) return allowed;
      }
      add(path + ".bandwidth", "must be 125000, 250000 or 500000 (the forwarder: \"" +
                                   std::string(kLoraStdRefused) + "\")");
      return std::nullopt;
    }
    if (key == kFsk) {
      const JsonNodePtr given = channel.get("bandwidth");
      const JsonNodePtr deviation = channel.get("freq_deviation");
      const JsonNodePtr datarate = channel.get("datarate");
      for (const JsonNodePtr& value : {given, deviation, datarate}) {
        if (value && !isNumber(*value)) return std::nullopt;
      }
      double hz = given ? numberOf(*given) : 0;
      if (hz == 0) {
        hz = 2 * (deviation ? numberOf(*deviation) : 0) + (datarate ? numberOf(*datarate) : 0);
      }
      if (hz >= 0) {
        for (const std::int64_t step : kFskSteps) {
          if (hz <= static_cast<double>(step)) return step;
        }
      }
      add(path + ".bandwidth",
          "must be from 0 to 500000 Hz, and so must twice freq_deviation plus datarate when it "
          "is 0 or missing (the forwarder: \"" +
              std::string(kFskRefused) + "\")");
      return std::nullopt;
    }
    return kMultiSfBandwidth;
  }

  void channel(const JsonNode& section, const JsonNode& channel, const std::string& key,
               const Concentrator& c) {
    const std::string path = std::string(c.section) + "." + key;
    booleans(channel, path, kChannelBooleans);
    numbers(channel, path, kChannelNumbers);
    if (!isTrue(channel.get("enable"))) return;
    const JsonNode* radio = nullptr;
    if (const JsonNodePtr number = channel.get("radio"); number && isNumber(*number)) {
      const double n = numberOf(*number);
      if (n != 0 && n != 1) {
        add(path + ".radio", kMustBeRadioZeroOrOne);
      } else {
        const std::string name = std::string(kRadioPrefix) + (n == 0 ? "0" : "1");
        const JsonNodePtr found = section.get(name);
        if (found && found->isObject()) {
          radio = found.get();
        } else {
          add(path + ".radio", "names " + name + ", which does not exist");
        }
      }
    }
    const std::optional<std::int64_t> width = bandwidth(channel, path, key);
    const JsonNodePtr offset = channel.get("if");
    if (!width || !offset || !isNumber(*offset)) return;
    const double hz = numberOf(*offset);
    const std::int64_t limit = halfBand(c, *width) - *width / 2;
    if (std::abs(hz) > static_cast<double>(limit)) {
      const std::string refused = key == kLoraStd ? std::string(kLoraStdRefused)
                                  : key == kFsk
                                      ? std::string(kFskRefused)
                                      : "invalid configuration for Lora multi-SF channel " +
                                            std::to_string(numberAfter(key, kMultiSfPrefix));
      add(path + ".if", "must be from -" + khzText(limit) + " to " + khzText(limit) +
                            " kHz for a " + khzText(*width) + " kHz channel on an " +
                            std::string(c.chip) + " concentrator (the forwarder: \"" + refused +
                            "\")");
      return;
    }
    if (!radio || !isTrue(radio->get("enable"))) return;
    const JsonNodePtr freq = radio->get("freq");
    const std::optional<Tuning> range = tuning(*radio, c);
    if (!range || !freq || !isNumber(*freq) || !range->holds(numberOf(*freq))) return;
    if (!range->holds(numberOf(*freq) + hz)) {
      add(path + ".if", "puts the channel outside the " + range->rangeText() + " its " +
                            std::string(range->type) + " radio can tune" + range->onChip);
    }
  }

  std::vector<ConfigProblem> problems_;
};

}  // namespace

std::vector<ConfigProblem> checkForwarderConfig(const JsonNode& document) {
  return Checker().run(document);
}

std::string describeProblems(const std::vector<ConfigProblem>& problems) {
  std::string text;
  for (const ConfigProblem& p : problems) {
    if (!text.empty()) text += "; ";
    text += p.path.empty() ? "the document" : p.path;
    text += ' ';
    text += p.message;
  }
  return text;
}

}  // namespace relaydash
