#include "cli/values.hpp"

#include <limits>

#include "ascii/ascii.hpp"
namespace relaydash {

using ascii::isDigit;

IntegerValue parseInteger(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kIntegerWhiteSpace);
  if (first == std::string_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(kIntegerWhiteSpace) + 1 - first);

  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !isDigit(text.front())) return {};

  // The magnitude saturates just past the 32-bit range instead of going through a 64-bit
  // reader: a value too long even for 64 bits is then reported as out of range like any
  // other, rather than failing elsewhere with a success status.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (const char c : text) {
    if (isDigit(c)) {
      if (magnitude <= kLimit) magnitude = magnitude * 10 + (c - '0');
    } else if (c != '_') {
      return {};
    }
  }
  if (magnitude > (negative ? kLimit : kLimit - 1)) return {.status = IntegerStatus::OutOfRange};
  return {.status = IntegerStatus::Ok,
          .value = static_cast<std::int32_t>(negative ? -magnitude : magnitude)};
}

bool applyStringOperator(std::string& current, std::string_view op, std::string_view value) {
  if (op.size() <= 1) {
    current = value;
    return true;
  }
  switch (op.front()) {
    case '+':
    case '&':
      current += value;
      return true;
    case '^':
      current.insert(0, value);
      return true;
    default:
      return false;
  }
}

}  // namespace relaydash
