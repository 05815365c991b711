#include "crypto/buffer.hpp"

#include <array>
#include <cstring>
#include <limits>

#include "ascii/ascii.hpp"
#include "crypto/libsodium.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Pad = '=';
constexpr std::int8_t kNotBase64 = -1;

// Six-bit value of each character; padding reads as zero bits wherever it stands.
constexpr std::array<std::int8_t, 256> kBase64Values = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(kNotBase64);
  for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
    values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
  }
  values[static_cast<unsigned char>(kBase64Pad)] = 0;
  return values;
}();

static_assert(kHexDigits.size() == 16);
static_assert(kBase64Alphabet.size() == 64);
static_assert(kBase64Values['A'] == 0 && kBase64Values['/'] == 63 && kBase64Values['-'] == -1);

std::int32_t checkedSize(std::int64_t n) {
  if (n < 0 || n > std::numeric_limits<std::int32_t>::max()) {
    throw BufferValueError("Invalid buffer size: " + std::to_string(n));
  }
  return static_cast<std::int32_t>(n);
}

bool isHexDigit(char c) noexcept {
  return ascii::hexValue(c) >= 0;
}

}  // namespace

std::uint8_t* Buffer::pos(std::int32_t i) const {
  if (i < 0 || i >= size_) {
    throw BufferOutOfBoundError("Reading buffer at position " + std::to_string(i) + "/" +
                                std::to_string(size_));
  }
  return bytes_.get() + i;
}

Buffer Buffer::view(std::int32_t first, std::int32_t size) const {
  return Buffer(std::shared_ptr<std::uint8_t[]>(bytes_, bytes_.get() + first), size);
}

Buffer Buffer::inclusiveRange(std::int64_t first, std::int64_t last) const {
  if (last < first || last >= size_) {
    throw BufferOutOfBoundError(std::to_string(first) + " .. " + std::to_string(last));
  }
  // first fits: first <= last < size_; pos() rejects a negative start.
  const auto start = static_cast<std::int32_t>(first);
  pos(start);
  return view(start, static_cast<std::int32_t>(last - first + 1));
}

Buffer Buffer::range(std::int32_t first, std::int32_t last) const {
  return inclusiveRange(first, last);
}

Buffer Buffer::rangeFromEnd(std::int32_t first, std::int32_t fromEnd) const {
  return inclusiveRange(first, static_cast<std::int64_t>(size_) - fromEnd);
}

void Buffer::write(std::int32_t at, const void* src, std::int32_t len) const {
  if (at < 0 || len < 0 || static_cast<std::int64_t>(at) + len > size_) {
    throw BufferOutOfBoundError("Out of bound write is forbidden");
  }
  if (len > 0) std::memmove(bytes_.get() + at, src, static_cast<std::size_t>(len));
}

Buffer newBuffer(std::int32_t n) {
  checkedSize(n);
  // At least one byte of storage, so that data() is a real address also for an empty buffer.
  const std::int32_t storage = n > 0 ? n : 1;
  return Buffer(std::make_shared<std::uint8_t[]>(static_cast<std::size_t>(storage)), n);
}

Buffer newBuffer(std::string_view text) {
  const Buffer b = newBuffer(checkedSize(static_cast<std::int64_t>(text.size())));
  b.write(0, text.data(), b.size());
  return b;
}

Buffer newBufferZeroized(std::int32_t n) {
  const Buffer b = newBuffer(n);
  zeroize(b);
  return b;
}

Buffer newBufferRandomized(std::int32_t n) {
  const Buffer b = newBuffer(n);
  randomize(b);
  return b;
}

Buffer newBufferHex(std::string_view text) {
  return decodeHex(text);
}

Buffer newBufferB64(std::string_view text) {
  return decodeBase64(text);
}

Buffer slice(const Buffer& b, std::int32_t first, std::int32_t end) {
  if (first < 0 || end < first || end > b.size()) {
    throw BufferOutOfBoundError("(" + std::to_string(first) + ", " + std::to_string(end) + ")");
  }
  return b.view(first, end - first);
}

Buffer concat(const Buffer& x, const Buffer& y) {
  const Buffer joined = newBuffer(checkedSize(static_cast<std::int64_t>(x.size()) + y.size()));
  joined.write(0, x.data(), x.size());
  joined.write(x.size(), y.data(), y.size());
  return joined;
}

std::string toString(const Buffer& b) {
  return std::string(b.chars(), b.chars() + b.size());
}

void zeroize(const Buffer& b) {
  std::memset(b.data(), 0, static_cast<std::size_t>(b.size()));
}

void randomize(const Buffer& b) {
  libsodium().randomBytes(b.data(), static_cast<std::size_t>(b.size()));
}

std::string hex(const Buffer& b) {
  std::string text;
  text.reserve(static_cast<std::size_t>(b.size()) * 2);
  for (std::int32_t i = 0; i < b.size(); ++i) {
    const std::uint8_t byte = b.data()[i];
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 15];
  }
  return text;
}

std::string base64(const Buffer& b) {
  const std::uint8_t* in = b.data();
  const std::size_t n = static_cast<std::size_t>(b.size());
  std::string text;
  text.reserve((n + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    text += kBase64Alphabet[in[i] >> 2];
    text += kBase64Alphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
    text += kBase64Alphabet[((in[i + 1] & 15) << 2) | (in[i + 2] >> 6)];
    text += kBase64Alphabet[in[i + 2] & 63];
  }
  if (n - i == 1) {
    text += kBase64Alphabet[in[i] >> 2];
    text += kBase64Alphabet[(in[i] & 3) << 4];
    text += kBase64Pad;
    text += kBase64Pad;
  } else if (n - i == 2) {
    text += kBase64Alphabet[in[i] >> 2];
    text += kBase64Alphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
    text += kBase64Alphabet[(in[i + 1] & 15) << 2];
    text += kBase64Pad;
  }
  return text;
}

std::uint8_t decodeHexChar(char c) {
  const int value = ascii::hexValue(c);
  if (value < 0) throw BufferValueError(std::string("Invalid hex character: ") + c);
  return static_cast<std::uint8_t>(value);
}

Buffer decodeHex(std::string_view text) {
  std::int64_t count = 0;
  for (char c : text)
    count += isHexDigit(c) ? 1 : 0;
  if (count % 2 != 0) throw BufferValueError("Invalid hex sequence: cnt=" + std::to_string(count));
  const Buffer bytes = newBuffer(checkedSize(count / 2));
  std::int64_t digits = 0;
  for (char c : text) {
    if (!isHexDigit(c)) continue;
    std::uint8_t& byte = bytes.data()[digits / 2];
    byte = digits % 2 == 0 ? static_cast<std::uint8_t>(decodeHexChar(c) << 4)
                           : static_cast<std::uint8_t>(byte | decodeHexChar(c));
    ++digits;
  }
  return bytes;
}

Buffer decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) throw BufferValueError("Only base64 with padding is supported");
  if (text.empty()) return newBuffer(0);
  std::int64_t length = static_cast<std::int64_t>(text.size() / 4) * 3;
  if (text.back() == kBase64Pad) {
    length -= text[text.size() - 2] == kBase64Pad ? 2 : 1;
  }
  const Buffer bytes = newBuffer(checkedSize(length));
  std::uint8_t* out = bytes.data();
  std::int64_t at = 0;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint8_t x[4];
    for (std::size_t k = 0; k < 4; ++k) {
      const std::int8_t value = kBase64Values[static_cast<unsigned char>(text[i + k])];
      if (value == kNotBase64) {
        throw BufferValueError(std::string("Invalid base64 charactor: ") + text[i + k]);
      }
      x[k] = static_cast<std::uint8_t>(value);
    }
    out[at++] = static_cast<std::uint8_t>((x[0] << 2) | (x[1] >> 4));
    if (at < length) out[at++] = static_cast<std::uint8_t>(((x[1] & 15) << 4) | (x[2] >> 2));
    if (at < length) out[at++] = static_cast<std::uint8_t>(((x[2] & 3) << 6) | x[3]);
  }
  return bytes;
}

}  // namespace relaydash
