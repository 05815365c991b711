#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace relaydash {

// Stores a part of a head in a string kept from the request before. A connection's requests
// mostly repeat one another (the same target, version and header values), and comparing a few
// bytes costs less than copying them over themselves.
inline void storeText(std::string& into, std::string_view text) {
  // An empty view may have no data at all, which memcmp must not be given.
  if (into.size() == text.size() &&
      (text.empty() || std::memcmp(into.data(), text.data(), text.size()) == 0)) {
    return;
  }
  into.assign(text);
}

}  // namespace relaydash
