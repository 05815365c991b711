// Any byte sequence either parses or raises JsonParsingError. What parses must come back from
// its own compact and pretty texts unchanged, and so must its deep copy. The span scanner reads
// anything without crashing, and follows every text that parses: one span a value.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "json/parser.hpp"
#include "json/text_spans.hpp"
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

// Whether the spans have the document's shape: as many members (repeated keys counted once) and
// elements, each inside its container.
bool sameShape(const relaydash::JsonSpan& span, const JsonNode& node) {
  if (node.isObject()) {
    if (!span.isObject() || span.members.size() < node.size()) return false;
    for (const auto& member : node.object()) {
      const relaydash::JsonSpanMember* place = span.find(member.key);
      if (!place || place->value.begin < span.begin || place->value.end > span.end ||
          !sameShape(place->value, *member.value))
        return false;
    }
    return true;
  }
  if (node.isArray()) {
    if (!span.isArray() || span.elements.size() != node.size()) return false;
    for (std::size_t i = 0; i < node.size(); ++i) {
      if (!sameShape(span.elements[i], *node.array()[i])) return false;
    }
    return true;
  }
  return span.kind == relaydash::JsonSpan::Kind::Scalar && span.end > span.begin;
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
  const std::optional<relaydash::JsonSpan> spans = relaydash::scanJsonSpans(text);
  try {
    value = relaydash::parseJson(text);
  } catch (const relaydash::JsonParsingError&) {
    return 0;
  }
  check(spans && sameShape(*spans, *value), "spans", std::string(text));
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
