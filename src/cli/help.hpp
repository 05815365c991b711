#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.hpp"

namespace relaydash {

inline constexpr std::string_view kCommandName = "relaydash";
inline constexpr std::size_t kHelpIndent = 2;
inline constexpr std::size_t kHelpColumnGap = 2;
// The description column never gets narrower than this, even on a tiny terminal.
inline constexpr std::size_t kMinDescriptionWidth = 16;

// The help text for the listed options and their defaults, laid out for a terminal of the given
// width. Ends with a newline.
std::string composeHelp(std::span<const OptionRow> table, int terminalWidth);

// A string between double quotes, with backslash escapes for quotes, backslashes and control
// characters.
std::string quoteDefault(std::string_view text);

// The number of characters a UTF-8 text prints as.
std::size_t printedWidth(std::string_view text);

// Breaks a text at spaces into lines of at most `width` characters; a word longer than that
// starts a line of its own and is cut into pieces of the full width.
std::vector<std::string> wrapWords(std::string_view text, std::size_t width);

}  // namespace relaydash
