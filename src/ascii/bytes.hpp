#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Comparing the short texts of a request head: a target, a version, a header value. They are a
// few bytes to a few dozen, where a call into the C library costs more than the work: up to
// sixteen bytes are compared in line, a word at a time.
namespace relaydash::ascii {
namespace detail {

template <typename Word>
Word load(const char* at) noexcept {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// sameBytes over two texts of one size, from one to two Words long: two overlapping words.
template <typename Word>
bool sameWords(const char* a, const char* b, std::size_t size) noexcept {
  const std::size_t last = size - sizeof(Word);
  return load<Word>(a) == load<Word>(b) && load<Word>(a + last) == load<Word>(b + last);
}

}  // namespace detail

// True when the two texts hold the same bytes.
inline bool sameBytes(std::string_view a, std::string_view b) noexcept {
  const std::size_t size = a.size();
  if (size != b.size()) return false;
  if (size > 2 * sizeof(std::uint64_t)) return std::memcmp(a.data(), b.data(), size) == 0;
  if (size >= sizeof(std::uint64_t))
    return detail::sameWords<std::uint64_t>(a.data(), b.data(), size);
  if (size >= sizeof(std::uint32_t))
    return detail::sameWords<std::uint32_t>(a.data(), b.data(), size);
  for (std::size_t i = 0; i < size; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace relaydash::ascii
