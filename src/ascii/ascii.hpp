#pragma once

#include <string_view>

// Character classes and case folding for protocol text: ASCII only, never the locale's, so that
// a header name or a JSON number reads the same on every system. Bytes of 128 and above belong to
// no class and keep their case.
namespace relaydash::ascii {

constexpr bool isDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}
constexpr bool isUpper(char c) noexcept {
  return c >= 'A' && c <= 'Z';
}
constexpr bool isLower(char c) noexcept {
  return c >= 'a' && c <= 'z';
}
constexpr bool isAlpha(char c) noexcept {
  return isUpper(c) || isLower(c);
}
constexpr bool isAlnum(char c) noexcept {
  return isAlpha(c) || isDigit(c);
}
// What C's isspace calls white space in the "C" locale.
constexpr bool isSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr char toLower(char c) noexcept {
  return isUpper(c) ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr char toUpper(char c) noexcept {
  return isLower(c) ? static_cast<char>(c - ('a' - 'A')) : c;
}
// The value of a hexadecimal digit of either case, or -1.
constexpr int hexValue(char c) noexcept {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (toLower(a[i]) != toLower(b[i])) return false;
  }
  return true;
}

static_assert(toLower('Q') == 'q' && toUpper('q') == 'Q' && toLower('[') == '[' &&
              toUpper('{') == '{' && hexValue('F') == 15 && hexValue('g') == -1 &&
              equalsIgnoreCase("Keep-Alive", "keep-ALIVE") && !equalsIgnoreCase("a", "ab"));

}  // namespace relaydash::ascii
