#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "cli/options.hpp"

namespace relaydash {

// Names this far from the typed key or further are never suggested.
inline constexpr std::size_t kSuggestionCutoff = 4;
// The search widens one edit at a time until it has at least this many names.
inline constexpr std::size_t kEnoughSuggestions = 3;

// Edit distance where inserting, deleting or substituting a character and swapping two
// adjacent characters each cost 1, with no restriction on edits between swapped characters.
std::size_t damerauLevenshtein(std::string_view a, std::string_view b);

// The listed long names (display form, pointing into `table`) closest to a misspelt key,
// nearest first and in table order within a distance.
std::vector<std::string_view> suggestLongNames(std::span<const OptionRow> table,
                                               std::string_view key);

}  // namespace relaydash
