#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/socket.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// One line read from a connection.
struct Line {
  enum class Kind {
    Text,     // a line with content; `text` excludes the line end
    Empty,    // an empty line (just a line end)
    End,      // the stream ended (or the peer went away) before any byte of a line, or it was
              // interrupted on this side (what was collected of the line is dropped)
    TooLong,  // more than the line limit was collected without a line end
  };
  Kind kind;
  std::string_view text;  // valid until the next read from the reader
};

// Buffered reads from one connection: lines (ended by CR LF, a lone LF or a lone CR) and
// bodies. Bytes read past what a request needs stay buffered for the next request.
class LineReader {
 public:
  explicit LineReader(Socket& socket) : socket_(socket) {}

  Task<Line> readLine();
  // Reads up to `length` body bytes into `body` (replacing its content); fewer when the stream
  // ends first.
  Task<void> readBody(std::string& body, std::size_t length);
  // Reads more bytes into the buffer, waiting for them if need be; false at end of stream.
  Task<bool> fill();

  // Bytes received but not yet consumed. The LF of a CR LF line end counts as consumed,
  // unless it arrived after the line was read.
  std::size_t buffered() const noexcept { return end_ - begin_; }
  // Gives back a buffer that a long line made grow past what a connection keeps, when the
  // bytes it still holds fit the initial size.
  void shrink();

 private:
  void dropLfAfterCr() noexcept;

  Socket& socket_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool afterCr_ = false;  // the last line ended with CR: an LF that follows belongs to it
};

}  // namespace relaydash
