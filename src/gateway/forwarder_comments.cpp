#include "gateway/forwarder_comments.hpp"

#include <algorithm>
#include <iterator>
#include <map>

#include "ascii/ascii.hpp"

namespace relaydash {

namespace {

using Span = ForwarderComments::Span;
using Region = ForwarderComments::Region;
using Pass = ForwarderComments::Pass;

constexpr std::size_t npos = std::string::npos;

// One pass of the forwarder over text, blanking each comment from `start` to `end` (both
// included). A backslash outside a text escapes a quote as well; it does not stop `start`. When
// no `end` follows a `start`, only the `start` is blanked and the pass stops there.
Pass removeComments(std::string& text, std::string_view start, std::string_view end) {
  Pass pass;
  bool inText = false;
  bool escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && !escaped) {
      escaped = true;
      continue;
    }
    if (c == '"' && !escaped) {
      inText = !inText;
      pass.quotes.push_back(i);
    } else if (!inText && text.compare(i, start.size(), start) == 0) {
      std::fill_n(text.begin() + static_cast<std::ptrdiff_t>(i), start.size(), ' ');
      std::size_t found = text.find(end, i + start.size());
      if (found == npos) {
        pass.comments.push_back({i, i + start.size(), Region::Code});
        pass.stop = i;
        return pass;
      }
      std::size_t after = found + end.size();
      std::fill(text.begin() + static_cast<std::ptrdiff_t>(i),
                text.begin() + static_cast<std::ptrdiff_t>(after), ' ');
      pass.comments.push_back({i, after, Region::Code});
      i = after - 1;
    }
    escaped = false;
  }
  return pass;
}

// Comments and texts as a plain reader of JSON with comments sees them. A comment or text that
// never ends runs to the end.
std::vector<Span> plainReading(std::string_view text) {
  std::vector<Span> spans;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i + 1;
    if (text[i] == '"') {
      while (end < text.size() && text[end] != '"')
        end += text[end] == '\\' ? 2 : 1;
      end = std::min(end + 1, text.size());
      spans.push_back({i, end, Region::Text});
    } else if (text.substr(i, 2) == "//") {
      end = std::min(text.find('\n', i + 2), text.size());
      spans.push_back({i, end, Region::LineComment});
    } else if (text.substr(i, 2) == "/*") {
      std::size_t close = text.find("*/", i + 2);
      end = close == npos ? text.size() : close + 2;
      spans.push_back({i, end, Region::BlockComment});
    }
    i = end;
  }
  return spans;
}

// The span of the ordered spans that holds offset, or nullptr.
const Span* spanAt(const std::vector<Span>& spans, std::size_t offset) {
  auto after = std::upper_bound(spans.begin(), spans.end(), offset,
                                [](std::size_t o, const Span& s) { return o < s.begin; });
  if (after == spans.begin()) return nullptr;
  const Span& span = *std::prev(after);
  return offset < span.end ? &span : nullptr;
}

// Whether a pass believes offset to be inside a text.
bool insideText(const Pass& pass, std::size_t offset) {
  auto before = std::lower_bound(pass.quotes.begin(), pass.quotes.end(), offset);
  return (before - pass.quotes.begin()) % 2 == 1;
}

// The last of the ordered offsets before offset, or npos.
std::size_t lastBefore(const std::vector<std::size_t>& offsets, std::size_t offset) {
  auto before = std::lower_bound(offsets.begin(), offsets.end(), offset);
  return before == offsets.begin() ? npos : *std::prev(before);
}

}  // namespace

ForwarderComments::ForwarderComments(std::string_view text)
    : text_(text), remaining_(text), plain_(plainReading(text)) {
  passes_[0] = removeComments(remaining_, "/*", "*/");
  passes_[1] = removeComments(remaining_, "//", "\n");
  for (std::size_t i = text.find('\n'); i != npos; i = text.find('\n', i + 1))
    lineEnds_.push_back(i);
  for (int p = 0; p < 2; ++p) {
    for (std::size_t q : passes_[p].quotes) {
      const Span* span = spanAt(plain_, q);
      bool delimits =
          span && span->kind == Region::Text && (q == span->begin || q + 1 == span->end);
      if (!delimits) strayQuotes_[p].push_back(q);
    }
  }
}

std::size_t ForwarderComments::lineOf(std::size_t offset) const {
  return 1 + static_cast<std::size_t>(std::lower_bound(lineEnds_.begin(), lineEnds_.end(), offset) -
                                      lineEnds_.begin());
}

std::pair<std::size_t, std::size_t> ForwarderComments::place(std::size_t offset) const {
  std::size_t line = lineOf(offset);
  std::size_t lineStart = line == 1 ? 0 : lineEnds_[line - 2] + 1;
  return {line, offset - lineStart + 1};
}

ForwarderComments::Region ForwarderComments::plainRegionAt(std::size_t offset) const {
  const Span* span = spanAt(plain_, offset);
  return span && span->begin != offset ? span->kind : Region::Code;
}

namespace {

// " inside a …" for a cause found in a plain reading's region.
std::string_view inside(Region region, bool quote) {
  switch (region) {
    case Region::LineComment:
      return quote ? " inside a comment" : " inside a \"//\" comment";
    case Region::BlockComment:
      return " inside a comment";
    case Region::Text:
      return " inside a text";
    case Region::Code:
      break;
  }
  return "";
}

}  // namespace

CommentQuirk ForwarderComments::forwarderComment(int passIndex, const Span& comment) const {
  const std::string token = passIndex == 0 ? "/*" : "//";
  std::string message = "the forwarder reads this \"" + token + '"';
  message += inside(plainRegionAt(comment.begin), false);
  if (passes_[passIndex].stop == comment.begin) {
    message += " as a comment with no " + std::string(passIndex == 0 ? "\"*/\"" : "line end") +
               " after it: it removes only the \"" + token + '"';
  } else {
    message += " as the start of a comment, which hides everything up to line " +
               std::to_string(lineOf(comment.end - 1));
  }
  return {comment.begin, std::move(message)};
}

CommentQuirk ForwarderComments::quote(std::size_t offset, std::size_t commentBegin) const {
  std::string message = "the forwarder reads this \"";
  message += inside(plainRegionAt(offset), true);
  message += " as the start of a text, so it does not take the comment on line " +
             std::to_string(lineOf(commentBegin)) + " as a comment";
  return {offset, std::move(message)};
}

// Why the forwarder keeps (some of) a comment the plain reading removes: the pass that should
// have removed it stopped before it, believed itself inside a text there, or was inside a
// comment of its own that ended within it.
CommentQuirk ForwarderComments::keptComment(const Span& comment) const {
  std::size_t begin = comment.begin;
  // A "/*" may also take the second "/" of a "//", which then starts no comment.
  const Span* swallowedBy = spanAt(passes_[0].comments, begin);
  if (!swallowedBy) swallowedBy = spanAt(passes_[0].comments, begin + 1);
  if (comment.kind == Region::LineComment && swallowedBy) return forwarderComment(0, *swallowedBy);
  int passIndex = comment.kind == Region::BlockComment ? 0 : 1;
  const Pass& pass = passes_[passIndex];
  if (pass.stop <= begin) return forwarderComment(passIndex, *spanAt(pass.comments, pass.stop));
  if (insideText(pass, begin)) {
    if (std::size_t q = lastBefore(strayQuotes_[passIndex], begin); q != npos)
      return quote(q, begin);
  } else if (swallowedBy) {
    return forwarderComment(0, *swallowedBy);
  }
  return {begin, "the forwarder does not take this comment as a comment"};
}

std::vector<CommentQuirk> ForwarderComments::quirks(std::size_t end, std::size_t limit) const {
  std::map<std::size_t, std::string> found;
  const Span* lastOwner = nullptr;
  end = std::min(end, text_.size());
  for (std::size_t i = 0; i < end && found.size() < limit; ++i) {
    if (ascii::isSpace(text_[i])) continue;
    bool forwarderBlanks = remaining_[i] != text_[i];
    const Span* plain = spanAt(plain_, i);
    bool plainBlanks = plain && plain->kind != Region::Text;
    if (forwarderBlanks == plainBlanks) continue;
    // Each stretch of difference is explained once, by the comment it belongs to.
    int passIndex = 0;
    const Span* owner = plain;
    if (forwarderBlanks) {
      owner = spanAt(passes_[0].comments, i);
      if (!owner) {
        passIndex = 1;
        owner = spanAt(passes_[1].comments, i);
      }
    }
    if (!owner || owner == lastOwner) continue;
    lastOwner = owner;
    CommentQuirk quirk =
        forwarderBlanks ? forwarderComment(passIndex, *owner) : keptComment(*owner);
    found.emplace(quirk.offset, std::move(quirk.message));
  }
  std::vector<CommentQuirk> result;
  for (auto& [offset, message] : found)
    result.push_back({offset, std::move(message)});
  return result;
}

}  // namespace relaydash
