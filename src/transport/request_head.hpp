#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "transport/request.hpp"
#include "transport/request_parser.hpp"

namespace relaydash {

// How the parse of a head stands after one call.
enum class HeadStatus {
  Incomplete,      // the input ends inside the head: keep the input from `used` on, read more
  Complete,        // the head is read; the body (or the next request) starts at `used`
  BadRequestLine,  // 400: the request line is refused; the next request starts at `used`
  LineTooLong,     // 413, then the connection closes: a line longer than the limit
  TooLarge,        // bare 400, then the connection closes: too many header names or bytes
  Ended,           // the stream ended before the head did: the connection closes unanswered
};

struct HeadResult {
  HeadStatus status;
  std::size_t used;  // bytes of the input taken: the lines read, and the head's end when done
};

// What a connection keeps while it reads heads: where the head being read stands, and the
// request line parts a short request line keeps from the one before. One per connection.
struct HeadProgress {
  enum class Phase : unsigned char { RequestLine, AfterEmptyLine, HeaderLines };
  Phase phase = Phase::RequestLine;
  // The last line taken ended with CR: an LF that comes next is part of that line end.
  bool lfPending = false;
  // What the head's lines hold so far, as limits::kMaxHeadBytes counts it.
  std::size_t headBytes = 0;
  // The memory the head's parse has stored so far, as limits::kHeldPerHeaderName counts it.
  std::size_t heldBytes = 0;
  // Bytes at the start of the next input, the line an Incomplete parse stopped in, that are
  // known to hold no line end.
  std::size_t scanned = 0;
  PreviousRequestLine previous;
};

// Reads a request head from the bytes a connection has received, line by line, into `head`: the
// request line sets the method, url and protocol, each header line is stored in `head.headers`
// (cleared when the request line is taken). Each call goes on from where the last one stopped,
// so the same bytes give the same head whatever the reads they came in; the caller drops the
// `used` bytes and calls again with the rest and what it reads next. With inputEnds the input is
// all there will ever be: a last line without its line end still counts as a line.
//
// What the connection does with each outcome is HeadStatus's to say; the parse itself does
// nothing but read. The quirks it keeps on purpose are listed in request_head.cpp.
HeadResult parseRequestHead(std::string_view input, bool inputEnds, HeadProgress& progress,
                            RequestHead& head);

// The last head parsed whole into one RequestHead, kept beside it. A client that repeats its
// request on a keep-alive connection (a status page polling, a health check) sends the same bytes
// each time; when they come again, the head already holds what parsing them would give.
class HeadMemo {
 public:
  // To be called whenever the head is changed other than by readRequestHead.
  void forget() noexcept { bytes_.clear(); }

 private:
  friend HeadResult readRequestHead(std::string_view, bool, HeadProgress&, RequestHead&, HeadMemo&);

  bool repeatedBy(std::string_view input, const HeadProgress& progress) const noexcept;
  void remember(std::string_view bytes, const HeadProgress& progress);

  std::string bytes_;  // the head's bytes; empty when nothing is remembered
  // What the parse left in the progress. A request line with all three parts makes the head
  // the same whatever was in force before; a shorter one takes its missing parts from the
  // target and version in force, so the same bytes give the same head only when those are the
  // same.
  PreviousRequestLine previous_;
  bool wholeRequestLine_ = false;
  std::size_t headBytes_ = 0;
  std::size_t heldBytes_ = 0;
};

// parseRequestHead, for a head that `memo` stays beside: a head that repeats the remembered one
// byte for byte, read from the start of a head (and, for a short request line, with the same
// request line parts in force), is taken as it is; any other input is parsed, and remembered
// when it is a whole head.
HeadResult readRequestHead(std::string_view input, bool inputEnds, HeadProgress& progress,
                           RequestHead& head, HeadMemo& memo);

}  // namespace relaydash
