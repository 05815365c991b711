#include "transport/request_head.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "ascii/bytes.hpp"
#include "transport/limits.hpp"
#include "transport/store_text.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The head is read as the clients this server was first written for sent it, and other programs
// and scripts still depend on how it is read. These quirks are kept on purpose:
//
// - A line ends at CR LF, at a lone LF or at a lone CR: a client that ends its lines either way
//   is understood. The LF of a CR LF may arrive later than its CR; it still belongs to the CR.
// - A line may hold kMaxLineLength characters; one more is refused (413) as soon as it is
//   there, line end or not, so a peer cannot make a line grow without bound.
// - One empty line before the request line is skipped (the CR LF some clients send after a
//   body). A second one is taken as the request line, and as one it has no method: 400, and the
//   request after it is read as the next request on the connection.
// - The request line is split at every single space: two spaces in a row make an empty part. A
//   fourth part, even an empty one after a trailing space, is refused (400).
// - A request line with fewer than three parts is accepted; the target and version it leaves
//   out are those of the request before it on the connection (an empty target and version 0.0
//   at first). The parts of a refused request line that were taken before the bad one stay in
//   force too.
// - The version needs only its "HTTP/" prefix, in any case: then come the major number, any one
//   character and the minor number, missing numbers counting as 0 ("HTTP/1x7" is 1.7).
// - A header line without ":" is all name, with one empty value; a line that is only ":"
//   stores nothing. A later line with the same name replaces the earlier one's values.
// - Values are split at commas, each with its leading white space removed and its trailing
//   white space kept ("a, b ,c" is "a", "b ", "c"), except a cookie's, which stays one value.
// - When the stream ends, what was received of a last line without its line end is that line.
// - An empty line ends the head even when it is a lone CR whose LF has not come yet.

namespace relaydash {
namespace {

using Phase = HeadProgress::Phase;

// What a header line holds beyond its characters: every value split off at a comma is a string
// of its own.
std::size_t headerLineBytes(std::string_view line, std::size_t values) {
  return line.size() + (values > 1 ? (values - 1) * limits::kBytesPerExtraValue : 0);
}

// What storing a header line costs in memory: its characters, the values split off, and a new
// name's entry.
std::size_t headerLineHeld(std::string_view line, std::size_t values, bool newName) {
  return line.size() * limits::kHeldPerLineByte +
         (values > 1 ? (values - 1) * limits::kBytesPerExtraValue : 0) +
         (newName ? limits::kHeldPerHeaderName : 0);
}

// Finds line ends in one input: the first CR or LF at or after a place. Each byte is looked at
// once (the last sixteen at most twice), so a head of many short lines costs no more than one
// long one.
class LineEnds {
 public:
  explicit LineEnds(std::string_view input) noexcept : input_(input) {}

  // The first CR or LF at or after `from`, or the input's size when there is none.
  std::size_t from(std::size_t from) noexcept {
#if defined(__SSE2__)
    // Sixteen bytes at a time; the last piece is read as the input's last sixteen bytes, with
    // the ones before `from` masked off, so nothing past the input is ever read.
    const char* data = input_.data();
    const std::size_t size = input_.size();
    if (size < kBlock) return scalar(from);
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const auto ends = [&](std::size_t at) noexcept {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      return static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf))));
    };
    for (; from + kBlock <= size; from += kBlock) {
      if (const unsigned found = ends(from))
        return from + static_cast<std::size_t>(std::countr_zero(found));
    }
    if (from >= size) return size;
    const std::size_t last = size - kBlock;
    if (const unsigned found = ends(last) >> (from - last))
      return from + static_cast<std::size_t>(std::countr_zero(found));
    return size;
#else
    return std::min(next(from, '\n', lf_), next(from, '\r', cr_));
#endif
  }

 private:
#if defined(__SSE2__)
  static constexpr std::size_t kBlock = 16;

  std::size_t scalar(std::size_t from) const noexcept {
    while (from < input_.size() && input_[from] != '\r' && input_[from] != '\n')
      ++from;
    return from;
  }
#else
  // Each of CR and LF is looked for once past the last one found.
  std::size_t next(std::size_t from, char c, std::size_t& found) const noexcept {
    if (found == kUnknown || found < from) {
      const void* at = std::memchr(input_.data() + from, c, input_.size() - from);
      found = at ? static_cast<std::size_t>(static_cast<const char*>(at) - input_.data())
                 : input_.size();
    }
    return found;
  }

  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t lf_ = kUnknown;
  std::size_t cr_ = kUnknown;
#endif
  std::string_view input_;
};

}  // namespace

HeadResult parseRequestHead(std::string_view input, bool inputEnds, HeadProgress& progress,
                            RequestHead& head) {
  LineEnds lineEnds(input);
  std::size_t pos = 0;
  for (;;) {
    if (progress.lfPending && pos < input.size()) {
      if (input[pos] == '\n') ++pos;
      progress.lfPending = false;
    }
    // Bytes of this line an earlier call has already looked at hold no line end.
    const std::size_t end =
        lineEnds.from(std::min(pos + std::exchange(progress.scanned, 0), input.size()));
    std::string_view line;
    bool ended = false;  // the line has its line end (else it is the stream's last bytes)
    if (end < input.size()) {
      if (end - pos > limits::kMaxLineLength) return {HeadStatus::LineTooLong, pos};
      line = input.substr(pos, end - pos);
      progress.lfPending = input[end] == '\r';
      pos = end + 1;
      if (progress.lfPending && pos < input.size()) {
        if (input[pos] == '\n') ++pos;
        progress.lfPending = false;
      }
      ended = true;
    } else {
      if (input.size() - pos > limits::kMaxLineLength) return {HeadStatus::LineTooLong, pos};
      if (!inputEnds) {
        progress.scanned = input.size() - pos;
        return {HeadStatus::Incomplete, pos};
      }
      if (pos == input.size()) return {HeadStatus::Ended, pos};
      line = input.substr(pos);
      pos = input.size();
    }

    if (progress.phase != Phase::HeaderLines) {
      if (ended && line.empty()) {
        if (progress.phase == Phase::RequestLine) {
          progress.phase = Phase::AfterEmptyLine;
          continue;
        }
        progress.phase = Phase::RequestLine;
        return {HeadStatus::BadRequestLine, pos};
      }
      progress.phase = Phase::RequestLine;
      if (parseRequestLine(line, progress.previous, head) != RequestLineStatus::Ok) {
        return {HeadStatus::BadRequestLine, pos};
      }
      head.headers.clear();
      progress.headBytes = line.size();
      // Its parts are kept in several strings of the request and the target.
      progress.heldBytes = 2 * limits::kHeldPerHeaderName + line.size() * limits::kHeldPerLineByte;
      progress.phase = Phase::HeaderLines;
      continue;
    }

    if (ended && line.empty()) {
      progress.phase = Phase::RequestLine;
      return {HeadStatus::Complete, pos};
    }
    const std::size_t names = head.headers.size();
    const std::size_t values = parseHeaderLine(line, head.headers);
    progress.headBytes += headerLineBytes(line, values);
    progress.heldBytes += headerLineHeld(line, values, head.headers.size() > names);
    if (head.headers.size() > limits::kMaxHeaderNames ||
        progress.headBytes > limits::kMaxHeadBytes) {
      progress.phase = Phase::RequestLine;
      return {HeadStatus::TooLarge, pos};
    }
  }
}

namespace {

// No part of a head has been read: no line begun, no line end half taken.
bool atHeadStart(const HeadProgress& progress) noexcept {
  return progress.phase == Phase::RequestLine && !progress.lfPending && progress.scanned == 0;
}

// Whether the request line of a whole head has all three parts (two spaces: a head with more
// is refused), after the one empty line a head may start with.
bool hasWholeRequestLine(std::string_view head) noexcept {
  if (head.starts_with("\r\n")) {
    head.remove_prefix(2);
  } else if (head.starts_with('\r') || head.starts_with('\n')) {
    head.remove_prefix(1);
  }
  const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  return std::count(line.begin(), line.end(), ' ') == 2;
}

}  // namespace

bool HeadMemo::repeatedBy(std::string_view input, const HeadProgress& progress) const noexcept {
  return !bytes_.empty() && input.size() >= bytes_.size() && atHeadStart(progress) &&
         ascii::sameBytes(input.substr(0, bytes_.size()), bytes_) &&
         (wholeRequestLine_ || (ascii::sameBytes(progress.previous.target, previous_.target) &&
                                ascii::sameBytes(progress.previous.version, previous_.version)));
}

void HeadMemo::remember(std::string_view bytes, const HeadProgress& progress) {
  // A head whose last line end is a CR may take an LF that comes after it: the parse depended
  // on a byte past the head. One that ends with LF never looked further.
  if (bytes.size() > limits::kMaxRememberedHead || bytes.empty() || bytes.back() != '\n' ||
      progress.lfPending) {
    forget();
    return;
  }
  bytes_.assign(bytes);
  wholeRequestLine_ = hasWholeRequestLine(bytes);
  previous_.target.assign(progress.previous.target);
  previous_.version.assign(progress.previous.version);
  headBytes_ = progress.headBytes;
  heldBytes_ = progress.heldBytes;
}

HeadResult readRequestHead(std::string_view input, bool inputEnds, HeadProgress& progress,
                           RequestHead& head, HeadMemo& memo) {
  if (memo.repeatedBy(input, progress)) {
    // The parse would leave the progress as it is, but for what the head holds and the parts of
    // its request line, which come into force.
    progress.headBytes = memo.headBytes_;
    progress.heldBytes = memo.heldBytes_;
    storeText(progress.previous.target, memo.previous_.target);
    storeText(progress.previous.version, memo.previous_.version);
    return {HeadStatus::Complete, memo.bytes_.size()};
  }
  const bool fromStart = atHeadStart(progress);
  const HeadResult result = parseRequestHead(input, inputEnds, progress, head);
  if (fromStart && result.status == HeadStatus::Complete) {
    memo.remember(input.substr(0, result.used), progress);
  } else {
    memo.forget();
  }
  return result;
}

}  // namespace relaydash
