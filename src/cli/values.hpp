#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace relaydash {

// Characters stripped from both ends of an integer value.
inline constexpr std::string_view kIntegerWhiteSpace = " \t\n\v\f\r";

enum class IntegerStatus { Ok, Malformed, OutOfRange };

struct IntegerValue {
  IntegerStatus status = IntegerStatus::Malformed;
  std::int32_t value = 0;
};

// Reads an optional sign and decimal digits, ignoring white space around them and underscores
// after the first digit (9_992). Anything outside the signed 32-bit range, however long, is
// OutOfRange; an empty or otherwise shaped value is Malformed.
IntegerValue parseInteger(std::string_view text);

// Updates a string value. `op` is the operator with its separator as typed: a bare separator
// replaces, "+" and "&" append, "^" prepends. Returns false, leaving `current` alone, for any
// other operator.
bool applyStringOperator(std::string& current, std::string_view op, std::string_view value);

}  // namespace relaydash
