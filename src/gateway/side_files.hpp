#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json/value.hpp"

namespace relaydash {

// The files the SX1301 generation of the packet forwarder (packet_forwarder 4.x and the
// forwarders made from it) reads from its working directory besides global_conf.json:
// - local_conf.json, read after it: each member of its gateway_conf and SX1301_conf takes the
//   place of the main file's member of that name (a radio or channel as a whole);
// - debug_conf.json: when present the forwarder reads it alone and ignores the other two.
// The working directory is taken to be the configuration file's folder, as the packaged units
// set it. The SX1302 generation (SX130x_conf) reads one file only: it has no side files.

// A member the forwarder takes from a side file.
struct ConfigOverride {
  std::string path;   // "gateway_conf.gateway_ID", "SX1301_conf.radio_0"; "" for a whole file
  std::string file;   // "local_conf.json"
  JsonNodePtr value;  // what the forwarder uses (null for a whole file)
};

struct SideFiles {
  // "debug_conf.json" when the forwarder reads that file instead of the configuration.
  std::optional<std::string> readInstead;
  JsonNodePtr readInsteadDocument;
  std::vector<ConfigOverride> overrides;
  // Side files that are there but that the forwarder cannot read, in the operator's words.
  std::vector<std::string> notes;
};

inline constexpr const char* kLocalConfName = "local_conf.json";
inline constexpr const char* kDebugConfName = "debug_conf.json";

// Looks beside configPath for the side files of a forwarder whose configuration is `document`:
// none unless it holds SX1301_conf. Never raises: a side file that cannot be read is a note.
SideFiles readSideFiles(const std::string& configPath, const JsonNode& document);

// The document the forwarder works with: the file read instead, or `document` with every
// override in place. Shares no node with its arguments.
JsonNodePtr effectiveDocument(const JsonNode& document, const SideFiles& side);

// The overrides whose members differ between `before` and `after` (a change there has no effect
// on the forwarder); with a file read instead, that file (path "") as soon as anything differs.
std::vector<ConfigOverride> overridesTouched(const JsonNode& before, const JsonNode& after,
                                             const SideFiles& side);

// "gateway_conf.gateway_ID and SX1301_conf.radio_0 are set in local_conf.json …": why a change
// of those members is refused.
std::string describeOverrides(const std::vector<ConfigOverride>& touched);

}  // namespace relaydash
