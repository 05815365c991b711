#include "cli/values.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace relaydash {
namespace {

TEST(Values, IntegersAcceptSignsUnderscoresAndSurroundingWhiteSpace) {
  using enum IntegerStatus;
  const struct {
    std::string_view text;
    IntegerStatus status;
    std::int32_t value;
  } cases[] = {
      {"8080", Ok, 8080},
      {"+8080", Ok, 8080},
      {"-8080", Ok, -8080},
      {"0008080", Ok, 8080},
      {"-0", Ok, 0},
      {"9_992", Ok, 9992},
      {"9_", Ok, 9},
      {"1__0", Ok, 10},
      {" \t8080\n ", Ok, 8080},
      {"2147483647", Ok, 2147483647},
      {"-2147483648", Ok, -2147483647 - 1},
      {"2147483648", OutOfRange, 0},
      {"-2147483649", OutOfRange, 0},
      {"9223372036854775807", OutOfRange, 0},
      // Beyond 64 bits too: reported as out of range, not as some other failure.
      {"99999999999999999999999", OutOfRange, 0},
      {"-99999999999999999999999", OutOfRange, 0},
      {"", Malformed, 0},
      {"   ", Malformed, 0},
      {"+", Malformed, 0},
      {"-", Malformed, 0},
      {"_9", Malformed, 0},
      {"+_9", Malformed, 0},
      {"--9", Malformed, 0},
      {"8 080", Malformed, 0},
      {"0x10", Malformed, 0},
      {"abc", Malformed, 0},
      {"80.5", Malformed, 0},
      {"99999999999999999999999x", Malformed, 0},
  };
  for (const auto& c : cases) {
    const IntegerValue parsed = parseInteger(c.text);
    EXPECT_EQ(parsed.status, c.status) << '"' << c.text << '"';
    if (c.status == Ok) {
      EXPECT_EQ(parsed.value, c.value) << '"' << c.text << '"';
    }
  }
}

}  // namespace
}  // namespace relaydash
