#pragma once

#include <string_view>

namespace relaydash {

// Prints one line on standard output and flushes it: the server's log for the operator (the
// journal keeps it under systemd; no log file, no levels). The command line's own messages and
// the audit trail go elsewhere.
void printLine(std::string_view line);

}  // namespace relaydash
