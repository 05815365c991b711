#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace relaydash {

// A text that is not one JSON document, with the message "input(LINE, COLUMN) Error: ITEM
// expected". LINE counts from 1 (only LF ends a line); COLUMN is the number of bytes before the
// offending token on its line, so it counts from 0; at the end of the text it points just past
// the last byte. ITEM is what the parser wanted there: "{" (a value), "string literal as key",
// ":", "}", "]", "EOF", "number within a double's range" (a float literal too large for a
// double, such as 1e999; one too small reads as zero), or "nesting depth of at most N" with
// N = kMaxJsonDepth.
class JsonParsingError : public std::runtime_error {
 public:
  JsonParsingError(std::size_t line, std::size_t column, std::string_view item);

  std::size_t line() const noexcept { return line_; }
  std::size_t column() const noexcept { return column_; }

 private:
  std::size_t line_;
  std::size_t column_;
};

// Parses text that holds exactly one JSON value, with white space around it. Besides standard
// JSON it accepts "//" and "/* */" comments, a "," before a closing bracket, numbers that begin
// with "." or "-.", the escapes \' and \v, and keeps an unknown escape as backslash and
// character. An integer beyond 64 bits becomes a raw number; of repeated keys the last value
// wins at the first key's position. Nests at most kMaxJsonDepth levels. Never reads outside
// text; throws JsonParsingError.
JsonNodePtr parseJson(std::string_view text);

}  // namespace relaydash
