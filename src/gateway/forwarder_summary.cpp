#include "gateway/forwarder_summary.hpp"

#include <sys/stat.h>

#include <cstring>
#include <exception>

#include "gateway/forwarder_config.hpp"
#include "gateway/plan_recognition.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"

namespace relaydash {
namespace {

std::optional<std::string> stringMember(const JsonNode* object, std::string_view key) {
  const JsonNodePtr value = object ? object->get(key) : nullptr;
  if (!value || !value->isString() || value->isRawNumber()) return std::nullopt;
  return value->getString();
}

std::optional<std::int64_t> intMember(const JsonNode* object, std::string_view key) {
  const JsonNodePtr value = object ? object->get(key) : nullptr;
  if (!value || !value->isInt()) return std::nullopt;
  return value->getInt();
}

// "line 3, column 12: string literal as key expected": the place counted from 1, as every page
// shows places in the file (the parser counts columns from 0).
std::string parsingErrorText(const JsonParsingError& e) {
  const std::string_view what = e.what();
  const std::size_t after = what.find(") Error: ");
  std::string text =
      "line " + std::to_string(e.line()) + ", column " + std::to_string(e.column() + 1) + ": ";
  text += after == std::string_view::npos ? what : what.substr(after + 9);
  return text;
}

}  // namespace

bool hasJsonComments(std::string_view text) {
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '/' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '*')) {
      return true;
    }
  }
  return false;
}

ForwarderSummary summarizeForwarderConfig(const std::string& path) {
  ForwarderSummary summary;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    summary.sizeBytes = static_cast<std::int64_t>(info.st_size);
    summary.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000 +
                       static_cast<std::int64_t>(info.st_mtim.tv_nsec) / 1000;
  }
  std::string text;
  JsonNodePtr document;
  try {
    text = readTextFile(path);
  } catch (const std::exception& e) {
    summary.error = e.what();
    return summary;
  }
  summary.hasComments = hasJsonComments(text);
  summary.forwarder = viewAsForwarder(path, text);
  try {
    document = readConfigDocument(text);
  } catch (const JsonParsingError& e) {
    summary.error = parsingErrorText(e);
    return summary;
  } catch (const std::exception& e) {
    summary.error = e.what();
    return summary;
  }
  if (summary.forwarder->effective) document = summary.forwarder->effective;
  const JsonNodePtr gateway = document->get("gateway_conf");
  summary.gatewayId = stringMember(gateway.get(), "gateway_ID");
  summary.serverAddress = stringMember(gateway.get(), "server_address");
  summary.serverPortUp = intMember(gateway.get(), "serv_port_up");
  summary.serverPortDown = intMember(gateway.get(), "serv_port_down");
  summary.statInterval = intMember(gateway.get(), "stat_interval");
  if (summary.statInterval && *summary.statInterval < 1) summary.statInterval.reset();
  for (const char* layout : {"SX1301_conf", "SX130x_conf"}) {
    if (document->hasKey(layout)) {
      summary.layout = layout;
      break;
    }
  }
  const PlanRecognition recognised = recognisePlan(*document);
  if (recognised.plan) summary.plan = recognised.exact ? recognised.plan->name : "custom";
  return summary;
}

}  // namespace relaydash
