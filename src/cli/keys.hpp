#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ascii/ascii.hpp"
#include "cli/options.hpp"

namespace relaydash {

// Long keys are style-insensitive after their first character, which is kept as typed: in the
// rest "_" and "-" are dropped and A to Z fold to lower case.
constexpr bool isDroppedKeyChar(char c) {
  return c == '_' || c == '-';
}
constexpr char foldKeyChar(char c) {
  return ascii::toLower(c);
}

std::string normalizeKey(std::string_view key);

// True when two keys have the same normalised form; usable in constant expressions.
constexpr bool sameNormalizedKey(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  if (a[0] != b[0]) return false;
  std::size_t i = 1, j = 1;
  for (;;) {
    while (i < a.size() && isDroppedKeyChar(a[i]))
      ++i;
    while (j < b.size() && isDroppedKeyChar(b[j]))
      ++j;
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    if (foldKeyChar(a[i]) != foldKeyChar(b[j])) return false;
    ++i, ++j;
  }
}

enum class KeyMatch { Found, Ambiguous, Unknown };

struct LongKeyResolution {
  KeyMatch match = KeyMatch::Unknown;
  const OptionRow* row = nullptr;                 // set when Found
  std::vector<const OptionRow*> candidates = {};  // when Ambiguous: sorted by normalised name
};

// Resolves a long key as typed: any unambiguous prefix of a listed name, a listed name equal
// to the key over the others it prefixes, and failing any prefix, an exact hidden name.
// The rows point into `table`.
LongKeyResolution resolveLongKey(std::span<const OptionRow> table, std::string_view key);

// Short keys match exactly. Null when no option has the key.
const OptionRow* findShortKey(std::span<const OptionRow> table, std::string_view key);

}  // namespace relaydash
