#include "crypto/blake2.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace relaydash {
namespace {

// Expected values from Python's hashlib.blake2b(data, key=key, digest_size=16).
TEST(Blake2b, MatchesAnIndependentImplementation) {
  const std::optional<Buffer> key = newBufferHex("000102030405060708090A0B");
  const struct {
    std::string data;
    std::optional<Buffer> key;
    const char* expected;
  } cases[] = {
      {"", key, "402E50823CFBE6B84943D89CFF3107E3"},
      {"quilm", key, "12D04B315DB9E4243DBC67DBB23DAE17"},
      {"quilm", newBufferHex("0102030405060708090A0B0C"), "D38B00C53E5EA323DD0B56D6746B6B31"},
      {std::string("a\0b", 3), key, "0B2E29126D9BEC10E39E24A1492539CF"},
      {"abc", std::nullopt, "CF4AB791C62B8D2B2109C90275287816"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hex(blake2b(newBuffer(c.data), c.key)), c.expected) << c.data;
  }
  // A view is hashed by its own bytes only.
  EXPECT_EQ(hex(blake2b(newBuffer("xquilmx").range(1, 5), key)), cases[1].expected);
  EXPECT_EQ(genBlake2bSalt().size(), 12);
  EXPECT_NE(hex(genBlake2bSalt()), hex(genBlake2bSalt()));
}

}  // namespace
}  // namespace relaydash
