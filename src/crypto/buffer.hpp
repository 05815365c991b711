#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace relaydash {

class BufferError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A position or range outside the buffer.
class BufferOutOfBoundError : public BufferError {
 public:
  using BufferError::BufferError;
};

// Bad hex or base64 text, or an impossible size.
class BufferValueError : public BufferError {
 public:
  using BufferError::BufferError;
};

// A handle to a fixed-size run of bytes. Copying a handle never copies bytes: every copy, and
// every view made by range() or slice(), refers to the same storage and keeps it alive. Storage is
// released with the last handle to it. Sizes and positions are signed 32-bit; an access outside
// the buffer raises BufferOutOfBoundError and leaves the bytes as they were.
//
// Constness is that of the handle, as with std::span: a const Buffer still reads and writes its
// bytes.
class Buffer {
 public:
  std::int32_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  // The first byte, for library calls. Never null, also for an empty buffer.
  std::uint8_t* data() const noexcept { return bytes_.get(); }
  const char* chars() const noexcept { return reinterpret_cast<const char*>(bytes_.get()); }

  // Byte i, for 0 <= i < size().
  std::uint8_t* pos(std::int32_t i) const;
  std::uint8_t& at(std::int32_t i) const { return *pos(i); }
  std::uint8_t& operator[](std::int32_t i) const { return *pos(i); }

  // A view of bytes first to last, both included.
  Buffer range(std::int32_t first, std::int32_t last) const;
  // A view of bytes first to size() - fromEnd, both included: rangeFromEnd(a, 1) runs to the end.
  Buffer rangeFromEnd(std::int32_t first, std::int32_t fromEnd) const;

  // Copies len bytes from src to position at; the bytes must fit.
  void write(std::int32_t at, const void* src, std::int32_t len) const;

 private:
  friend Buffer newBuffer(std::int32_t n);
  friend Buffer slice(const Buffer& b, std::int32_t first, std::int32_t end);

  Buffer(std::shared_ptr<std::uint8_t[]> bytes, std::int32_t size) noexcept
      : bytes_(std::move(bytes)), size_(size) {}
  Buffer view(std::int32_t first, std::int32_t size) const;
  // Wide bounds, so that a bound computed from the end cannot overflow.
  Buffer inclusiveRange(std::int64_t first, std::int64_t last) const;

  // A view's pointer shares ownership with its parent's storage and points inside it.
  std::shared_ptr<std::uint8_t[]> bytes_;
  std::int32_t size_;
};

// An owning buffer of n bytes with unspecified contents.
Buffer newBuffer(std::int32_t n);
// An owning copy of the bytes of text.
Buffer newBuffer(std::string_view text);
Buffer newBufferZeroized(std::int32_t n);
// n bytes from the system's secure random source.
Buffer newBufferRandomized(std::int32_t n);
Buffer newBufferHex(std::string_view text);
Buffer newBufferB64(std::string_view text);

// A view of bytes first up to end, end excluded; first == end gives an empty view.
Buffer slice(const Buffer& b, std::int32_t first, std::int32_t end);

// A new owning buffer with the bytes of x, then those of y.
Buffer concat(const Buffer& x, const Buffer& y);
inline Buffer operator+(const Buffer& x, const Buffer& y) {
  return concat(x, y);
}

std::string toString(const Buffer& b);

void zeroize(const Buffer& b);
void randomize(const Buffer& b);

// Upper-case hex, two digits a byte.
std::string hex(const Buffer& b);
// Standard base64 with "=" padding.
std::string base64(const Buffer& b);
inline std::string b64(const Buffer& b) {
  return base64(b);
}

// The value of one hex digit; BufferValueError for anything else.
std::uint8_t decodeHexChar(char c);
// The bytes of the hex digits in text, two digits a byte; other characters are skipped, so
// "00:AB" reads as "00AB". An odd number of digits raises BufferValueError.
Buffer decodeHex(std::string_view text);
// Padded standard base64; any other text raises BufferValueError. "=" reads as zero bits
// wherever it stands; only the last two characters decide the padding.
Buffer decodeBase64(std::string_view text);

}  // namespace relaydash
