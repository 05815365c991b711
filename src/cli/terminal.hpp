#pragma once

#include <optional>

namespace relaydash {

// Used when neither a terminal nor COLUMNS gives a width.
inline constexpr int kDefaultTerminalWidth = 80;

// The width the help is laid out for: the window size of standard input, output or error (the
// first that has one), else of the controlling terminal, else a positive integer in the
// environment variable COLUMNS, else kDefaultTerminalWidth.
int terminalWidth();

// The value of COLUMNS when it is a positive integer (digits only).
std::optional<int> columnsFromEnvironment(const char* value);

}  // namespace relaydash
