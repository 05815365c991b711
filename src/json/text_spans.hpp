#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash {

// Where each value of a JSON text lies, for editing the text in place: byte offsets into the
// text that was scanned, which the spans do not keep.
struct JsonSpanMember;

struct JsonSpan {
  enum class Kind { Scalar, Object, Array };
  Kind kind = Kind::Scalar;
  std::size_t begin = 0;  // the value's first byte ("{", "[", the quote, the digit, ...)
  std::size_t end = 0;    // one past its last byte
  std::vector<JsonSpanMember> members;  // an object's, in the order of the text
  std::vector<JsonSpan> elements;       // an array's

  bool isObject() const noexcept { return kind == Kind::Object; }
  bool isArray() const noexcept { return kind == Kind::Array; }
  // The member that parseJson keeps for the key: of repeated keys, the last one. nullptr when
  // there is none.
  const JsonSpanMember* find(std::string_view key) const noexcept;
};

struct JsonSpanMember {
  std::string key;           // decoded, as parseJson reads it
  std::size_t keyBegin = 0;  // the key's opening quote
  JsonSpan value;
};

// Scans text with the syntax parseJson accepts (comments, a "," before a closing bracket, ...).
// Every text parseJson reads scans; nullopt for text the scanner cannot follow (it does not check
// what a scalar holds, so some text that parseJson refuses scans too). Nests at most kMaxJsonDepth
// levels, never reads outside the text. Allocates a span per value: meant for configuration files,
// not request bodies.
std::optional<JsonSpan> scanJsonSpans(std::string_view text);

}  // namespace relaydash
