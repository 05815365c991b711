#pragma once

#include <string>
#include <string_view>

namespace relaydash {

// The status text of an HTTP code ("404 Not Found"), or an empty view for a code outside the
// table.
std::string_view statusText(int code) noexcept;

// Appends the status text of the code, or the decimal code alone when it has no text.
void appendStatusText(std::string& out, int code);

}  // namespace relaydash
