#include "transport/line_reader.hpp"

#include <algorithm>
#include <cstring>

#include "transport/limits.hpp"

namespace relaydash {

void LineReader::dropLfAfterCr() noexcept {
  if (afterCr_ && begin_ < end_) {
    if (buffer_[begin_] == '\n') ++begin_;
    afterCr_ = false;
  }
}

Task<bool> LineReader::fill() {
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == capacity_) {
    if (begin_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    } else {
      const std::size_t grown = capacity_ == 0 ? limits::kInitialReadBuffer
                                               : std::min(capacity_ * 2, limits::kMaxReadBuffer);
      auto bigger = std::make_unique_for_overwrite<char[]>(grown);
      if (end_ > 0) std::memcpy(bigger.get(), buffer_.get(), end_);
      buffer_ = std::move(bigger);
      capacity_ = grown;
    }
  }
  const std::size_t n =
      co_await socket_.read(std::span<char>(buffer_.get() + end_, capacity_ - end_));
  end_ += n;
  co_return n > 0;
}

Task<Line> LineReader::readLine() {
  std::size_t scanned = 0;  // bytes after begin_ already known to hold no line end
  for (;;) {
    dropLfAfterCr();
    const char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    for (std::size_t i = scanned; i < available; ++i) {
      const char c = start[i];
      if (c != '\n' && c != '\r') continue;
      if (i > limits::kMaxLineLength) co_return Line{Line::Kind::TooLong, {}};
      begin_ += i + 1;
      afterCr_ = c == '\r';
      // The LF of a CR LF goes with its line at once when it is there, so that buffered()
      // counts only the next line's bytes.
      dropLfAfterCr();
      if (i == 0) co_return Line{Line::Kind::Empty, {}};
      co_return Line{Line::Kind::Text, std::string_view(start, i)};
    }
    scanned = available;
    if (available > limits::kMaxLineLength) co_return Line{Line::Kind::TooLong, {}};
    if (!co_await fill()) {
      // The stream ended: what was collected is the last line, unless the end came from this
      // side and the rest of the line was never received.
      if (available == 0 || socket_.interrupted()) co_return Line{Line::Kind::End, {}};
      begin_ = end_;
      co_return Line{Line::Kind::Text,
                     std::string_view(buffer_.get() + end_ - available, available)};
    }
    // fill() may have moved the unread bytes to the front; `scanned` counts from begin_.
  }
}

void LineReader::shrink() {
  if (capacity_ <= limits::kKeptReadBuffer || buffered() > limits::kInitialReadBuffer) return;
  auto smaller = std::make_unique_for_overwrite<char[]>(limits::kInitialReadBuffer);
  std::memcpy(smaller.get(), buffer_.get() + begin_, buffered());
  end_ = buffered();
  begin_ = 0;
  buffer_ = std::move(smaller);
  capacity_ = limits::kInitialReadBuffer;
}

Task<void> LineReader::readBody(std::string& body, std::size_t length) {
  dropLfAfterCr();
  const std::size_t fromBuffer = std::min(length, end_ - begin_);
  body.assign(buffer_.get() + begin_, fromBuffer);
  begin_ += fromBuffer;
  std::size_t have = fromBuffer;
  if (have == length) co_return;
  body.resize(length);
  while (have < length) {
    const std::size_t n = co_await socket_.read(std::span<char>(body.data() + have, length - have));
    if (n == 0) break;
    have += n;
  }
  body.resize(have);
}

}  // namespace relaydash
