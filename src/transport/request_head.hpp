#pragma once

#include <cstddef>
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

}  // namespace relaydash
