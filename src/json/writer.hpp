#pragma once

#include <string>

#include "json/value.hpp"

namespace relaydash {

// Both writers append to out, which the caller owns and may reuse between documents, and never
// fail. Members are written in their order; strings are escaped byte by byte (bytes of 127 and
// above and "/" as they are); floats as "%.16g" would give in the C locale, with ".0" added when
// that text reads as an integer, and null for nan and the infinities, which have no number; raw
// numbers as their text. They recurse once per level: documents from parseJson are shallow
// enough, one built by hand must be too.

// No white space at all: answers, error bodies, token payloads.
void writeCompact(std::string& out, const JsonNode& node);

// One member or element per line, indented by indent spaces per level, ": " after keys, "{}" and
// "[]" for empty containers, and no newline after the last bracket: the configuration file.
void writePretty(std::string& out, const JsonNode& node, int indent = 2);

std::string toCompact(const JsonNode& node);
std::string toPretty(const JsonNode& node, int indent = 2);

}  // namespace relaydash
