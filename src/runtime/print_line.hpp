#pragma once

#include <string_view>

namespace relaydash {

// Prints one line on standard output and flushes it: the program's only way of telling the
// operator something (no log file, no levels).
void printLine(std::string_view line);

}  // namespace relaydash
