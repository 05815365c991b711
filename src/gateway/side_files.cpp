#include "gateway/side_files.hpp"

#include <cerrno>
#include <string_view>

#include "gateway/forwarder_reader.hpp"
#include "gateway/text_file.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

// The sections a side file's members take the place of, one member at a time.
constexpr std::string_view kSections[] = {"gateway_conf", "SX1301_conf"};
// As many differing members as a change can name before we stop looking.
constexpr std::size_t kMaxDifferences = 1000;

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1);
}

// The side file's document, or nullopt when it is not there; a note when the forwarder cannot
// read it.
std::optional<JsonNodePtr> readSide(const std::string& folder, const char* name,
                                    std::vector<std::string>& notes) {
  std::string text;
  try {
    text = readTextFile(folder + name);
  } catch (const OSError& e) {
    if (e.errorCode() != ENOENT)
      notes.push_back(std::string(name) + " beside the configuration cannot be read: " + e.what());
    return std::nullopt;
  }
  ForwarderReading reading = readAsForwarder(text);
  if (!reading.document || !reading.document->isObject()) {
    notes.push_back(std::string(name) + " beside the configuration is there, but the forwarder " +
                    "cannot read it" +
                    (reading.refusal ? ": line " + std::to_string(reading.refusal->line) + ", " +
                                           reading.refusal->message
                                     : ""));
    return std::nullopt;
  }
  return reading.document;
}

// Whether a member at `changed` lies at, inside or around the overridden member at `path`.
bool overlaps(std::string_view changed, std::string_view path) {
  const auto within = [](std::string_view inner, std::string_view outer) {
    return inner.substr(0, outer.size()) == outer &&
           (inner.size() == outer.size() || inner[outer.size()] == '.' ||
            inner[outer.size()] == '[');
  };
  return within(changed, path) || within(path, changed);
}

}  // namespace

SideFiles readSideFiles(const std::string& configPath, const JsonNode& document) {
  SideFiles side;
  if (!document.isObject() || !document.get("SX1301_conf")) return side;
  const std::string folder = folderOf(configPath);
  if (std::optional<JsonNodePtr> debug = readSide(folder, kDebugConfName, side.notes)) {
    side.readInstead = kDebugConfName;
    side.readInsteadDocument = std::move(*debug);
    return side;
  }
  std::optional<JsonNodePtr> local = readSide(folder, kLocalConfName, side.notes);
  if (!local) return side;
  for (const std::string_view section : kSections) {
    const JsonNodePtr members = (*local)->get(section);
    if (!members || !members->isObject()) continue;
    for (const JsonMember& member : members->object()) {
      side.overrides.push_back(
          {std::string(section) + "." + member.key, kLocalConfName, member.value});
    }
  }
  return side;
}

JsonNodePtr effectiveDocument(const JsonNode& document, const SideFiles& side) {
  if (side.readInsteadDocument) return copy(*side.readInsteadDocument);
  JsonNodePtr result = copy(document);
  if (!result->isObject()) return result;
  for (const ConfigOverride& o : side.overrides) {
    const std::size_t dot = o.path.find('.');
    const std::string section = o.path.substr(0, dot);
    JsonNodePtr members = result->get(section);
    if (!members || !members->isObject()) {
      members = newJObject();
      result->set(section, members);
    }
    members->set(o.path.substr(dot + 1), copy(*o.value));
  }
  return result;
}

std::vector<ConfigOverride> overridesTouched(const JsonNode& before, const JsonNode& after,
                                             const SideFiles& side) {
  std::vector<ConfigOverride> touched;
  const std::vector<std::string> changed = differingMembers(before, after, kMaxDifferences);
  if (changed.empty()) return touched;
  if (side.readInstead) {
    touched.push_back({"", *side.readInstead, nullptr});
    return touched;
  }
  for (const ConfigOverride& o : side.overrides) {
    for (const std::string& path : changed) {
      if (overlaps(path, o.path)) {
        touched.push_back(o);
        break;
      }
    }
  }
  return touched;
}

std::string describeOverrides(const std::vector<ConfigOverride>& touched) {
  if (touched.empty()) return "";
  if (touched.front().path.empty()) {
    return "the forwarder reads " + touched.front().file +
           " beside the configuration instead of it, so a change of the configuration has no "
           "effect; change " +
           touched.front().file + " or remove it";
  }
  std::string names;
  for (std::size_t i = 0; i < touched.size(); ++i) {
    if (i > 0) names += i + 1 == touched.size() ? " and " : ", ";
    names += touched[i].path;
  }
  const std::string& file = touched.front().file;
  return names + (touched.size() == 1 ? " is" : " are") + " set in " + file +
         " beside the configuration, which the forwarder reads after it: the change would have "
         "no effect. Change " +
         (touched.size() == 1 ? "it" : "them") + " in " + file + ", or remove " +
         (touched.size() == 1 ? "it" : "them") + " there";
}

}  // namespace relaydash
