#pragma once

#include <string>

namespace relaydash {

// The whole content of a file. Raises OSError with the system's text when it cannot be opened
// or read.
std::string readTextFile(const std::string& path);

}  // namespace relaydash
