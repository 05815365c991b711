#pragma once

#include <string>
#include <string_view>

namespace relaydash {

// A short name for a file's exact bytes, for a page to say which file its edits were based on
// ("a3f0…-1f2c": 16 hexadecimal digits of FNV-1a 64, a "-", the size in hexadecimal). It tells
// contents apart, it does not protect them: whoever sends it is signed in.
std::string contentHash(std::string_view bytes);

}  // namespace relaydash
