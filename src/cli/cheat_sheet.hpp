#pragma once

#include <string_view>

namespace relaydash {

// The syntax rules of the command line, printed by --help-syntax. Ends with a newline.
extern const std::string_view kCheatSheet;

}  // namespace relaydash
