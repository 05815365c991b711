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
// Content-Length values saturate here.
inline constexpr long long kMaxContentLength = 2147483647;

inline constexpr int kListenBacklog = 4096;
// While the descriptor ceiling is reached, accepting pauses and looks again this often.
inline constexpr std::chrono::milliseconds kThrottlePoll{500};
// The ceiling when the open-files limit cannot be read.
inline constexpr long kDefaultMaxFDs = 16000;

// A connection's read buffer starts this small, so idle connections stay cheap, and grows up
// to what one maximal line needs.
inline constexpr std::size_t kInitialReadBuffer = 1024;
inline constexpr std::size_t kMaxReadBuffer = 2 * kMaxLineLength + 2;

}  // namespace relaydash::limits
