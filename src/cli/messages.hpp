#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cli/options.hpp"

namespace relaydash {

// The texts the command line prints when it stops before running the server. Keys and
// arguments are quoted as the user typed them.

inline constexpr std::string_view kVersionLine = "Unknown version\n";

// `suggestions` may be empty, which leaves out the "Maybe you meant" lines.
std::string unknownLongOptionMessage(std::string_view key,
                                     std::span<const std::string_view> suggestions);
std::string unknownShortOptionMessage(std::string_view key);
// `candidates` in the order they are listed.
std::string ambiguousPrefixMessage(std::string_view key,
                                   std::span<const OptionRow* const> candidates);
// `help` is the whole help text, which follows the message.
std::string badIntegerMessage(std::string_view value, std::string_view key, std::string_view help);
std::string integerOutOfRangeMessage(std::string_view value, std::string_view key,
                                     std::string_view help);
// `op` with its separator, as typed.
std::string badStringOperatorMessage(std::string_view op, std::string_view key);
std::string nonOptionMessage(std::string_view argument);

}  // namespace relaydash
