#include "cli/suggest.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "cli/keys.hpp"

namespace relaydash {

std::size_t damerauLevenshtein(std::string_view a, std::string_view b) {
  // Lowrance and Wagner's table, with a sentinel row and column holding a distance no real
  // path can reach, and for each byte value the last row in which it occurred in `a`.
  const std::size_t rows = a.size() + 2, columns = b.size() + 2;
  const std::size_t unreachable = a.size() + b.size();
  std::vector<std::size_t> d(rows * columns, 0);
  auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * columns + j]; };
  std::array<std::size_t, 256> lastRowOf{};

  at(0, 0) = unreachable;
  for (std::size_t i = 0; i <= a.size(); ++i) {
    at(i + 1, 0) = unreachable;
    at(i + 1, 1) = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    at(0, j + 1) = unreachable;
    at(1, j + 1) = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t lastMatchColumn = 0;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t i1 = lastRowOf[static_cast<unsigned char>(b[j - 1])];
      const std::size_t j1 = lastMatchColumn;
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      if (cost == 0) lastMatchColumn = j;
      at(i + 1, j + 1) = std::min({at(i, j) + cost, at(i + 1, j) + 1, at(i, j + 1) + 1,
                                   at(i1, j1) + (i - i1 - 1) + 1 + (j - j1 - 1)});
    }
    lastRowOf[static_cast<unsigned char>(a[i - 1])] = i;
  }
  return at(a.size() + 1, b.size() + 1);
}

std::vector<std::string_view> suggestLongNames(std::span<const OptionRow> table,
                                               std::string_view key) {
  const std::string typed = normalizeKey(key);
  std::vector<std::size_t> distances;
  for (const OptionRow& row : table) {
    distances.push_back(row.listed ? damerauLevenshtein(typed, normalizeKey(row.longName))
                                   : kSuggestionCutoff);
  }
  std::vector<std::string_view> chosen;
  std::vector<bool> taken(table.size(), false);
  for (std::size_t limit = 0; limit < kSuggestionCutoff; ++limit) {
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (!taken[i] && distances[i] <= limit) {
        taken[i] = true;
        chosen.push_back(table[i].longName);
      }
    }
    if (chosen.size() >= kEnoughSuggestions) break;
  }
  return chosen;
}

}  // namespace relaydash
