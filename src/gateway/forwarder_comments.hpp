#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace relaydash {

// A comment the forwarder takes otherwise than a plain reader of JSON with comments would: the
// byte offset of what causes it and an explanation for the operator.
struct CommentQuirk {
  std::size_t offset = 0;
  std::string message;
};

// A configuration text with its comments removed the way the packet forwarder removes them: two
// passes over the text, the first blanking "/*" … "*/", the second "//" … "\n", each keeping
// its own idea of being inside a text by flipping on every '"' that no backslash escapes. Also
// holds a plain reading of the same comments (texts protect their content, "//" runs to the end
// of its line, "/*" to the next "*/"), so the two can be compared.
class ForwarderComments {
 public:
  // Reads text, which ends where the forwarder stops reading (at the first NUL byte, if any).
  explicit ForwarderComments(std::string_view text);

  // The text as the forwarder parses it: every comment it finds replaced by spaces, so the text
  // keeps its length and every offset still points at the same place.
  const std::string& remaining() const noexcept { return remaining_; }

  // The places where the forwarder leaves other text than the plain reading does, counting only
  // differences at offsets before `end`; each cause once, at most `limit`, ordered by offset.
  std::vector<CommentQuirk> quirks(std::size_t end, std::size_t limit) const;

  // The line (from 1; only "\n" ends a line) and the column (from 1, in bytes) of an offset.
  std::pair<std::size_t, std::size_t> place(std::size_t offset) const;

  // What one pass (or the plain reading) found: its comments (and, for the plain reading, its
  // texts) as [begin, end) ranges in order, the quotes it flipped on and where it stopped at a
  // comment with no end (npos when it did not). Public for the implementation's helpers only.
  enum class Region { Code, LineComment, BlockComment, Text };
  struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    Region kind = Region::Code;
  };
  struct Pass {
    std::vector<Span> comments;
    std::vector<std::size_t> quotes;
    std::size_t stop = std::string::npos;
  };

 private:
  std::size_t lineOf(std::size_t offset) const;
  Region plainRegionAt(std::size_t offset) const;
  CommentQuirk forwarderComment(int passIndex, const Span& comment) const;
  CommentQuirk quote(std::size_t offset, std::size_t commentBegin) const;
  CommentQuirk keptComment(const Span& comment) const;

  std::string text_;
  std::string remaining_;
  Pass passes_[2];
  // Per pass, the quotes it flips on that open or close no text of the plain reading: where its
  // idea of being inside a text parts from the plain reading's.
  std::vector<std::size_t> strayQuotes_[2];
  std::vector<Span> plain_;
  std::vector<std::size_t> lineEnds_;
};

}  // namespace relaydash
