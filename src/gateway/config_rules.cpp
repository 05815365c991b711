#include "gateway/config_rules.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace relaydash {
namespace {

// The rules' data. assets/ui/rules.js holds the same table: a change here is a change there.
struct RadioType {
  std::string_view type;
  std::int64_t minMhz;
  std::int64_t maxMhz;
};
constexpr std::array kRadioTypes{
    RadioType{"SX1255", 400, 510},
    RadioType{"SX1257", 862, 1020},
    RadioType{"SX1250", 150, 960},
};

struct Concentrator {
  std::string_view section;
  std::string_view chip;
  std::int64_t maxOffsetHz;
};
constexpr std::array kConcentrators{
    Concentrator{"SX1301_conf", "SX1301", 400'000},
    Concentrator{"SX130x_conf", "SX1302/SX1303", 737'500},
};

constexpr std::array<std::string_view, 3> kSections{"gateway_conf", "SX1301_conf", "SX130x_conf"};
constexpr std::array<std::string_view, 2> kPorts{"serv_port_up", "serv_port_down"};
constexpr std::array<std::string_view, 12> kGatewayBooleans{"forward_crc_valid",
                                                            "forward_crc_error",
                                                            "forward_crc_disabled",
                                                            "fake_gps",
                                                            "gps",
                                                            "beacon",
                                                            "logger",
                                                            "upstream",
                                                            "downstream",
                                                            "ghoststream",
                                                            "radiostream",
                                                            "statusstream"};
constexpr std::array<std::string_view, 1> kServerBooleans{"serv_enabled"};
// Paths below the concentrator's section.
constexpr std::array<std::string_view, 6> kConcentratorBooleans{
    "lorawan_public",         "full_duplex",
    "fine_timestamp.enable",  "sx1261_conf.spectral_scan.enable",
    "sx1261_conf.lbt.enable", "lbt_cfg.enable"};
constexpr std::array<std::string_view, 2> kRadioBooleans{"enable", "tx_enable"};
constexpr std::array<std::string_view, 3> kChannelBooleans{"enable", "implicit_hdr",
                                                           "implicit_crc_en"};
constexpr std::string_view kRadioPrefix = "radio_";
// Concentrators have two radios; a larger number is no radio at all.
constexpr int kMaxRadioNumber = 1000;
constexpr std::array<std::string_view, 1> kNumberedChannels{"chan_multiSF_"};
constexpr std::array<std::string_view, 2> kNamedChannels{"chan_Lora_std", "chan_FSK"};

constexpr std::string_view kMustBeObject = "must be an object";
constexpr std::string_view kMustBeGatewayId = "must be 16 hexadecimal digits";
constexpr std::string_view kMustBeAddress = "must be a host name or IP address, not empty";
constexpr std::string_view kMustBePort = "must be a whole number from 1 to 65535";
constexpr std::string_view kMustBeBoolean = "must be true or false";
constexpr std::string_view kMustBeFrequency = "must be a frequency in Hz";
constexpr std::string_view kMustBeOffset = "must be an offset in Hz";
constexpr std::string_view kMustBeRadioNumber = "must be the number of a radio";

bool isNumber(const JsonNode& node) {
  return node.isInt() || node.isFloat();
}

bool isWholeNumber(const JsonNode& node) {
  return node.isInt() || (node.isFloat() && std::trunc(node.getFloat()) == node.getFloat());
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

const RadioType* radioType(const JsonNode& radio) {
  const JsonNodePtr type = radio.get("type");
  if (!type || !type->isString()) return nullptr;
  for (const RadioType& t : kRadioTypes) {
    if (type->getString() == t.type) return &t;
  }
  return nullptr;
}

bool inRange(double hz, const RadioType& type) {
  return hz >= static_cast<double>(type.minMhz) * 1e6 &&
         hz <= static_cast<double>(type.maxMhz) * 1e6;
}

std::string rangeText(const RadioType& type) {
  return std::to_string(type.minMhz) + " to " + std::to_string(type.maxMhz) + " MHz";
}

bool isTrue(const JsonNodePtr& node) {
  return node && node->isBool() && node->getBool();
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

  void server(const JsonNode& object, const std::string& path) {
    if (const JsonNodePtr address = object.get("server_address");
        address &&
        (!address->isString() || address->isRawNumber() || address->getString().empty())) {
      add(path + ".server_address", kMustBeAddress);
    }
    for (const std::string_view port : kPorts) {
      const JsonNodePtr value = object.get(port);
      if (value && (!isWholeNumber(*value) || value->getFloat() < 1 || value->getFloat() > 65535))
        add(path + "." + std::string(port), kMustBePort);
    }
  }

  void gatewaySection(const JsonNode& gateway) {
    const std::string path = "gateway_conf";
    if (const JsonNodePtr id = gateway.get("gateway_ID"); id && !isGatewayId(*id))
      add(path + ".gateway_ID", kMustBeGatewayId);
    server(gateway, path);
    booleans(gateway, path, kGatewayBooleans);
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
    if (!id.isString() || id.isRawNumber() || id.getString().size() != 16) return false;
    for (const char c : id.getString()) {
      const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex) return false;
    }
    return true;
  }

  void concentrator(const JsonNode& section, const Concentrator& c) {
    const std::string path(c.section);
    booleans(section, path, kConcentratorBooleans);
    for (const JsonMember& member : section.object()) {
      if (numberAfter(member.key, kRadioPrefix) < 0 || !member.value->isObject()) continue;
      radio(*member.value, path + "." + member.key);
    }
    for (const JsonMember& member : section.object()) {
      if (!isChannel(member.key) || !member.value->isObject()) continue;
      channel(section, *member.value, path + "." + member.key, c);
    }
  }

  static bool isChannel(std::string_view key) {
    for (const std::string_view prefix : kNumberedChannels) {
      if (numberAfter(key, prefix) >= 0) return true;
    }
    for (const std::string_view name : kNamedChannels) {
      if (key == name) return true;
    }
    return false;
  }

  void radio(const JsonNode& radio, const std::string& path) {
    booleans(radio, path, kRadioBooleans);
    const JsonNodePtr freq = radio.get("freq");
    if (!isTrue(radio.get("enable")) || !freq) return;
    if (!isNumber(*freq)) {
      add(path + ".freq", kMustBeFrequency);
      return;
    }
    const RadioType* type = radioType(radio);
    if (type && !inRange(freq->getFloat(), *type)) {
      add(path + ".freq",
          "must be from " + rangeText(*type) + " for an " + std::string(type->type) + " radio");
    }
  }

  void channel(const JsonNode& section, const JsonNode& channel, const std::string& path,
               const Concentrator& c) {
    booleans(channel, path, kChannelBooleans);
    if (!isTrue(channel.get("enable"))) return;
    const JsonNode* radio = nullptr;
    if (const JsonNodePtr number = channel.get("radio")) {
      const double n = number->getFloat(-1);
      if (!isWholeNumber(*number) || n < 0 || n > kMaxRadioNumber) {
        add(path + ".radio", kMustBeRadioNumber);
      } else {
        const std::string name = std::string(kRadioPrefix) + std::to_string(static_cast<int>(n));
        const JsonNodePtr found = section.get(name);
        if (found && found->isObject()) {
          radio = found.get();
        } else {
          add(path + ".radio", "names " + name + ", which does not exist");
        }
      }
    }
    const JsonNodePtr offset = channel.get("if");
    if (!offset) return;
    if (!isNumber(*offset)) {
      add(path + ".if", kMustBeOffset);
      return;
    }
    const double hz = offset->getFloat();
    if (std::abs(hz) > static_cast<double>(c.maxOffsetHz)) {
      const std::string limit = khzText(c.maxOffsetHz);
      add(path + ".if", "must be from -" + limit + " to " + limit + " kHz on an " +
                            std::string(c.chip) + " concentrator");
      return;
    }
    if (!radio || !isTrue(radio->get("enable"))) return;
    const JsonNodePtr freq = radio->get("freq");
    const RadioType* type = radioType(*radio);
    if (!type || !freq || !isNumber(*freq) || !inRange(freq->getFloat(), *type)) return;
    if (!inRange(freq->getFloat() + hz, *type)) {
      add(path + ".if", "puts the channel outside the " + rangeText(*type) + " its " +
                            std::string(type->type) + " radio can tune");
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
