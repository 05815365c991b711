#pragma once

#include <cstddef>

namespace relaydash {

// Deepest nesting of objects and arrays the parser accepts. The parser, the writers and `copy`
// recurse once per level, so a hostile document of a few kilobytes of "[" must not be able to
// overflow the stack: the parser refuses it, and the writers and `copy` therefore never meet a
// document deeper than this (unless a caller builds one by hand).
inline constexpr int kMaxJsonDepth = 512;

// Objects up to this many members are searched by a linear scan over their members, which beats
// hashing for the small objects that make up almost every document; larger objects keep a hash
// index so that a lookup stays O(1) whatever the object's size.
inline constexpr std::size_t kJsonObjectScanLimit = 8;

}  // namespace relaydash
