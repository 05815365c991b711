#include "gateway/forwarder_config.hpp"

#include <stdexcept>
#include <string>
#include <utility>

#include "gateway/forwarder_reader.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {

JsonNodePtr readConfigDocument(std::string_view text) {
  try {
    return parseJson(text);
  } catch (const JsonParsingError&) {
    ForwarderReading reading = readAsForwarder(text);
    if (!reading.document) throw;
    return std::move(reading.document);
  }
}

Task<JsonNodePtr> getForwarderConfig(std::string path) {
  co_return readConfigDocument(readTextFile(path));
}

Task<void> updateForwarderConfig(std::string path, JsonNodePtr patch) {
  const JsonNodePtr current = readConfigDocument(readTextFile(path));
  const std::string text = toPretty(*merge(*current, *patch), 2);
  // A file that cannot be read back is never written (the parser refuses the numbers a double
  // cannot hold, so none reaches the writer; this stays the last guard).
  try {
    parseJson(text);
  } catch (const JsonParsingError& e) {
    throw std::invalid_argument(std::string("the patched configuration is not valid JSON: ") +
                                e.what());
  }
  replaceFile(path, text);
  co_return;
}

JsonNodePtr merge(const JsonNode& base, const JsonNode& patch) {
  if (!base.isObject() || !patch.isObject()) return copy(patch);
  const JsonObject& old = base.object();
  const JsonObject& changes = patch.object();
  JsonNodePtr result = newJObject();
  JsonObject& members = result->object();
  members.reserve(old.size() + changes.size());
  for (const auto& [key, value] : old) {
    if (!changes.contains(key)) members.set(key, copy(*value));
  }
  for (const auto& [key, value] : changes) {
    const JsonNodePtr* previous = old.find(key);
    members.set(key, previous ? merge(**previous, *value) : copy(*value));
  }
  return result;
}

}  // namespace relaydash
