#include "crypto/buffer.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

namespace relaydash {
namespace {

// The hex of what make() gives, or "error: " and the message of the BufferError it raises.
std::string outcome(const std::function<Buffer()>& make) {
  try {
    return hex(make());
  } catch (const BufferError& e) {
    return std::string("error: ") + e.what();
  }
}

TEST(Buffer, EveryAccessIsBoundsChecked) {
  const Buffer b = newBufferHex("0001020304");
  const auto stored = [&b](std::int32_t at) {
    return [&b, at] {
      b[at] = 0xFF;
      return b;
    };
  };
  const auto written = [](std::int32_t at, std::int32_t len) {
    return [=] {
      const Buffer target = newBuffer("....");
      target.write(at, "abcd", len);
      return target;
    };
  };
  const struct {
    std::function<Buffer()> make;
    std::string expected;
  } cases[] = {
      {stored(4), "00010203FF"},
      {stored(5), "error: Reading buffer at position 5/5"},
      {stored(-1), "error: Reading buffer at position -1/5"},
      {[] { return newBuffer(std::string(1, static_cast<char>(newBuffer(0).at(0)))); },
       "error: Reading buffer at position 0/0"},
      {[&] { return b.range(1, 3); }, "010203"},
      {[&] { return b.range(3, 9); }, "error: 3 .. 9"},
      {[&] { return b.range(3, 2); }, "error: 3 .. 2"},
      {[&] { return b.range(-1, 2); }, "error: Reading buffer at position -1/5"},
      {[&] { return b.rangeFromEnd(1, 1); }, "010203FF"},
      {[&] { return b.rangeFromEnd(2, 0); }, "error: 2 .. 5"},
      {[&] { return b.rangeFromEnd(0, std::numeric_limits<std::int32_t>::min()); },
       "error: 0 .. 2147483653"},
      {[&] { return slice(b, 1, 3); }, "0102"},
      {[&] { return slice(b, 5, 5); }, ""},
      {[] { return slice(newBuffer(0), 0, 0); }, ""},
      {[&] { return slice(b, 0, 6); }, "error: (0, 6)"},
      {[&] { return slice(b, 4, 2); }, "error: (4, 2)"},
      {[&] { return slice(b, -1, 2); }, "error: (-1, 2)"},
      {written(2, 2), "2E2E6162"},
      {written(4, 0), "2E2E2E2E"},
      {written(2, 3), "error: Out of bound write is forbidden"},
      {written(-1, 2), "error: Out of bound write is forbidden"},
      {written(std::numeric_limits<std::int32_t>::max(), 4),
       "error: Out of bound write is forbidden"},
      {[] { return newBuffer(-1); }, "error: Invalid buffer size: -1"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(outcome(cases[i].make), cases[i].expected) << "case " << i;
  }
  EXPECT_EQ(hex(b), "00010203FF");
}

TEST(Buffer, ViewsShareBytesAndOutliveTheirParentsHandle) {
  Buffer parent = newBuffer("hello world");
  const Buffer word = parent.range(6, 10);
  const Buffer letter = slice(word, 1, 2);
  word[0] = 'W';
  parent[7] = 'O';
  EXPECT_EQ(toString(parent), "hello WOrld");
  EXPECT_EQ(toString(letter), "O");
  // Only the views are left holding the storage (the sanitizer build catches a use after free).
  parent = newBuffer("");
  EXPECT_EQ(toString(word), "WOrld");

  const Buffer joined = word + newBuffer(std::string("\0\xFF", 2));
  word[0] = 'w';
  EXPECT_EQ(toString(joined), std::string("WOrld\0\xFF", 7));
}

TEST(BufferCodecs, EncodeAndDecode) {
  for (const auto& [bytes, text] : std::initializer_list<std::pair<std::string, const char*>>{
           {"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"\xFB\xFF", "+/8="}}) {
    EXPECT_EQ(b64(newBuffer(bytes)), text);
  }
  EXPECT_EQ(hex(newBuffer(std::string("\x00\xAB\x5F", 3))), "00AB5F");

  const struct {
    std::function<Buffer()> decode;
    const char* expected;
  } cases[] = {
      {[] { return newBufferHex("00ab"); }, "00AB"},
      {[] { return newBufferHex("00:AB"); }, "00AB"},
      {[] { return newBufferHex("ABC"); }, "error: Invalid hex sequence: cnt=3"},
      {[] { return newBufferHex("0g"); }, "error: Invalid hex sequence: cnt=1"},
      {[] { return newBuffer(std::string(1, static_cast<char>(decodeHexChar('g')))); },
       "error: Invalid hex character: g"},
      {[] { return newBufferB64("YQ=="); }, "61"},
      {[] { return newBufferB64(""); }, ""},
      // "=" inside is zero bits and does not shorten; only the last two decide the padding.
      {[] { return newBufferB64("YQ=A"); }, "610000"},
      {[] { return newBufferB64("YQ==YQ=="); }, "61000061"},
      {[] { return newBufferB64("Y==="); }, "60"},
      {[] { return newBufferB64("abcde"); }, "error: Only base64 with padding is supported"},
      {[] { return newBufferB64("ab-d"); }, "error: Invalid base64 charactor: -"},
      {[] { return newBufferB64("YW\nj"); }, "error: Invalid base64 charactor: \n"},
      {[] { return newBufferB64("YWJjYW\xC3\xA9"); }, "error: Invalid base64 charactor: \xC3"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(outcome(cases[i].decode), cases[i].expected) << "case " << i;
  }
  for (std::int32_t n = 0; n < 40; ++n) {
    const Buffer bytes = newBufferRandomized(n);
    EXPECT_EQ(hex(decodeBase64(base64(bytes))), hex(bytes));
  }
}

}  // namespace
}  // namespace relaydash
