// Any byte sequence either parses or raises JsonParsingError. What parses must come back from
// its own compact and pretty texts unchanged, and so must its deep copy.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/parser.hpp"
#include "json/writer.hpp"

namespace {

using relaydash::JsonNode;

// nan, inf and -inf are written but are no JSON the parser reads back.
bool hasNonFiniteFloat(const JsonNode& node) {
  if (node.isFloat()) return !std::isfinite(node.getFloat());
  if (node.isObject()) {
    for (const auto& member : node.object()) {
      if (hasNonFiniteFloat(*member.value)) return true;
    }
  }
  if (node.isArray()) {
    for (const auto& element : node.array()) {
      if (hasNonFiniteFloat(*element)) return true;
    }
  }
  return false;
}

void check(bool holds, const char* what, const std::string& text) {
  if (holds) return;
  std::fprintf(stderr, "json fuzz check failed: %s\n%s\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  relaydash::JsonNodePtr value;
  try {
    value = relaydash::parseJson(text);
  } catch (const relaydash::JsonParsingError&) {
    return 0;
  }
  if (hasNonFiniteFloat(*value)) return 0;
  std::string compact = relaydash::toCompact(*value);
  check(relaydash::toCompact(*relaydash::parseJson(compact)) == compact, "compact round trip",
        compact);
  std::string pretty = relaydash::toPretty(*value);
  check(relaydash::toCompact(*relaydash::parseJson(pretty)) == compact, "pretty round trip",
        pretty);
  check(relaydash::toCompact(*relaydash::copy(*value)) == compact, "deep copy", compact);
  return 0;
}
