#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.hpp"
#include "server/http_error.hpp"

namespace relaydash {

// The "input" member of a request's body, read the one way every procedure of ours reads it.
// An input that is missing or null reads as an empty object; anything else but an object is
// refused, and so is a member the procedure does not know. A member given as null reads as a
// member not given. Every refusal is an HttpException with status 400:
//   "input" not an object            23001 "Field input is not an object"
//   a member not named               22007 "Unknown field NAME"
//   a required member missing        21031 "Missing field NAME"
//   text expected, other given       23001 "Field NAME is not a string" (a number is no text)
//   a whole number out of its range  the caller's code and message; so is a number given as
//                                    text, with a fraction or too large for 64 bits
class Input {
 public:
  Input(const JsonNode& body, std::initializer_list<std::string_view> members);

  // Whether the member is given (present and not null).
  bool has(std::string_view name) const;
  // The member's value; nullptr when it is not given.
  JsonNodePtr get(std::string_view name) const;
  // The member's value, or 21031 "Missing field NAME".
  JsonNodePtr required(std::string_view name) const;

  std::optional<std::string> text(std::string_view name) const;
  std::string requiredText(std::string_view name) const;
  // A yes or no: false when not given; 23001 "Field NAME is not true or false" for anything but
  // a boolean.
  bool flag(std::string_view name) const;

  // A whole number from min to max: anything else, or a number the JSON reader could only keep
  // as digits, is refused with status 400, the code and the message given.
  struct Range {
    std::int64_t min;
    std::int64_t max;
    ErrorCode code;
    std::string_view message;
  };
  std::optional<std::int64_t> whole(std::string_view name, const Range& range) const;
  std::int64_t requiredWhole(std::string_view name, const Range& range) const;

 private:
  JsonNodePtr input_;
};

}  // namespace relaydash
