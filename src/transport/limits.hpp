#pragma once

#include <chrono>
#include <cstddef>

// Every limit the transport enforces, in one place.
namespace relaydash::limits {

// A request or header line may hold this many characters; one more and the request is refused
// with 413 and the connection closed.
inline constexpr std::size_t kMaxLineLength = 8192;
// A request may carry this many distinct header names; one more ends the connection.
inline constexpr std::size_t kMaxHeaderNames = 10000;
// The request line and header lines of one request may hold this many bytes together; one
// more is refused like a header name too many. A line holds its characters (the line end not
// counted), plus kBytesPerExtraValue for every value after the first that its commas split
// off, since each is stored as a string of its own.
inline constexpr std::size_t kMaxHeadBytes = 1024 * 1024;
inline constexpr std::size_t kBytesPerExtraValue = 32;
// The heads still being read, on all connections together, may hold this many bytes. A line
// that would go past it refuses the connection holding the largest unfinished head.
inline constexpr std::size_t kMaxHeadBytesInTotal = 32 * 1024 * 1024;
// The largest request body this system accepts: start-up gives it to the server, the web
// application keeps its requests below it.
inline constexpr long kMaxRequestBody = 4096;
// Content-Length values saturate here.
inline constexpr long long kMaxContentLength = 2147483647;

inline constexpr int kListenBacklog = 4096;
// At the descriptor ceiling a connection waiting to be accepted makes room by closing one that
// waits for its next request or has not completed its head. When there is none, accepting
// pauses and looks again this often.
inline constexpr std::chrono::milliseconds kThrottlePoll{500};
// The ceiling when the open-files limit cannot be read.
inline constexpr long kDefaultMaxFDs = 16000;

// A connection's read buffer starts this small, so idle connections stay cheap, and grows up
// to what one maximal line needs.
inline constexpr std::size_t kInitialReadBuffer = 1024;
inline constexpr std::size_t kMaxReadBuffer = 2 * kMaxLineLength + 2;
// What a connection keeps between requests: a read buffer or header storage that grew past
// these for a large request is given back when that request ends.
inline constexpr std::size_t kKeptReadBuffer = 4096;
inline constexpr std::size_t kKeptHeaderStorage = 16 * 1024;

}  // namespace relaydash::limits
