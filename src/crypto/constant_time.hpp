#pragma once

#include <string_view>

namespace relaydash {

// Whether a and b hold the same bytes, in a time that depends only on their lengths: comparing a
// secret must not tell an attacker how many leading bytes of a guess were right.
bool constantTimeEquals(std::string_view a, std::string_view b) noexcept;

}  // namespace relaydash
