#pragma once

#include <string>
#include <string_view>

#include "ascii/bytes.hpp"

namespace relaydash {

// Copies the text over the string's; out of line, so that the comparison before it stays small
// enough to sit in its callers.
void replaceText(std::string& into, std::string_view text);

// Stores a part of a head in a string kept from the request before. A connection's requests
// mostly repeat one another (the same target, version and header values), and comparing a few
// bytes costs less than copying them over themselves.
inline void storeText(std::string& into, std::string_view text) {
  if (!ascii::sameBytes(into, text)) [[unlikely]]
    replaceText(into, text);
}

}  // namespace relaydash
