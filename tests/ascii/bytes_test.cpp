#include "ascii/bytes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace relaydash::ascii {
namespace {

// Every length up to past the in-line limit, differing at every place, by a byte above 127 (a
// signed char): a word-wide comparison must see each byte, the two words' overlap included.
TEST(Bytes, SameBytesAgreesWithEquality) {
  const std::string base = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (std::size_t size = 0; size <= base.size(); ++size) {
    const std::string a = base.substr(0, size);
    EXPECT_TRUE(sameBytes(a, std::string(a)));
    EXPECT_FALSE(sameBytes(a, a + "!"));
    for (std::size_t at = 0; at < size; ++at) {
      std::string b = a;
      b[at] = '\xe9';
      EXPECT_FALSE(sameBytes(a, b)) << "size " << size << ", differing at " << at;
    }
  }
  EXPECT_TRUE(sameBytes(std::string_view(), ""));
}

}  // namespace
}  // namespace relaydash::ascii
