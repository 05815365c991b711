#include "cli/keys.hpp"

#include <algorithm>

namespace relaydash {
namespace {

constexpr bool normalizedNamesAreDistinct(std::span<const OptionRow> table) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (sameNormalizedKey(table[i].longName, table[j].longName)) return false;
    }
  }
  return true;
}
static_assert(normalizedNamesAreDistinct(kOptionTable));
static_assert(sameNormalizedKey("forwarder-config_PATH", "forwarderConfigPath"));
static_assert(!sameNormalizedKey("Listen", "listen"));

}  // namespace

std::string normalizeKey(std::string_view key) {
  std::string normalized;
  normalized.reserve(key.size());
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (i == 0) {
      normalized += key[0];
    } else if (!isDroppedKeyChar(key[i])) {
      normalized += foldKeyChar(key[i]);
    }
  }
  return normalized;
}

LongKeyResolution resolveLongKey(std::span<const OptionRow> table, std::string_view key) {
  const std::string wanted = normalizeKey(key);
  LongKeyResolution result;
  std::vector<std::pair<std::string, const OptionRow*>> prefixed;
  for (const OptionRow& row : table) {
    if (!row.listed) continue;
    std::string name = normalizeKey(row.longName);
    if (name == wanted) {
      result.match = KeyMatch::Found;
      result.row = &row;
      return result;
    }
    if (name.starts_with(wanted)) prefixed.emplace_back(std::move(name), &row);
  }
  if (prefixed.size() == 1) {
    result.match = KeyMatch::Found;
    result.row = prefixed.front().second;
    return result;
  }
  if (prefixed.size() > 1) {
    std::sort(prefixed.begin(), prefixed.end());
    result.match = KeyMatch::Ambiguous;
    for (const auto& [name, row] : prefixed)
      result.candidates.push_back(row);
    return result;
  }
  // Hidden names answer only when spelt out in full.
  for (const OptionRow& row : table) {
    if (!row.listed && normalizeKey(row.longName) == wanted) {
      result.match = KeyMatch::Found;
      result.row = &row;
      return result;
    }
  }
  return result;
}

const OptionRow* findShortKey(std::span<const OptionRow> table, std::string_view key) {
  for (const OptionRow& row : table) {
    if (!row.shortKey.empty() && row.shortKey == key) return &row;
  }
  return nullptr;
}

}  // namespace relaydash
