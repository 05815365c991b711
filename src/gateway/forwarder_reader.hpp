#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.hpp"

namespace relaydash {

// A place in the file and what happens there, for the operator: line and column count from 1
// (columns in bytes).
struct TextNote {
  std::size_t line = 0;
  std::size_t column = 0;
  std::string message;
  bool operator==(const TextNote&) const = default;
};

// What the packet forwarder makes of a configuration file.
struct ForwarderReading {
  JsonNodePtr document;                 // what the forwarder reads; null when it refuses the file
  std::optional<TextNote> refusal;      // why it refuses (set exactly when document is null)
  std::optional<TextNote> ignoredTail;  // where text after the document begins, when there is
                                        // any that is not white space (after comment removal)
  std::vector<TextNote> quirks;         // comments the forwarder takes otherwise than a plain
                                        // reader of JSON with comments would, at most 5
};

// Reads a configuration text exactly as the forwarder reads global_conf.json: it stops at the
// first NUL byte, removes comments in its two passes (see forwarder_comments.hpp) and parses
// what is left as strict JSON, except that it ignores whatever follows the top-level value. It
// refuses a trailing comma, a repeated member name in one object, a value inside more than 19
// objects and arrays, an escape other than \" \\ \/ \b \f \n \r \t \uXXXX, a number with a
// leading zero, in hexadecimal or out of a double's range, and anything else that is not JSON.
// Numbers become what relaydash's own parser makes of the same literal. Never throws for any
// text and never recurses deeper than the nesting it accepts.
ForwarderReading readAsForwarder(std::string_view text);

// The members (paths like "gateway_conf.keepalive_interval", "SX1301_conf.radio_0.freq",
// "gateway_conf.servers[1]"; "" for the documents themselves) where two documents differ, at
// most `limit`, in document order: a's members in a's order, then those only b has. A member
// missing on one side is a difference; the order of object members is not. Numbers compare as
// the doubles the forwarder reads, so an integer 5 and a float 5.0 are the same value.
std::vector<std::string> differingMembers(const JsonNode& a, const JsonNode& b,
                                          std::size_t limit = 10);

}  // namespace relaydash
