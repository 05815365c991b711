#include "json/text_spans.hpp"

#include "json/limits.hpp"
#include "json/parser.hpp"

namespace relaydash {
namespace {

bool isWordByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '+' || c == '.';
}

// The scanner trusts parseJson for what a value is: it only finds where values begin and end, and
// leaves scalars to parseJson when the caller needs their content.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::optional<JsonSpan> document() {
    JsonSpan span;
    if (!value(span, 0)) return std::nullopt;
    if (skipSpace()) return std::nullopt;
    return span;
  }

 private:
  // Moves over white space and comments; answers whether a token follows.
  bool skipSpace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "//") {
        const std::size_t end = text_.find('\n', pos_ + 2);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (text_.substr(pos_, 2) == "/*") {
        const std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return false;
        pos_ = end + 2;
      } else {
        return true;
      }
    }
    return false;
  }

  bool at(char c) { return skipSpace() && text_[pos_] == c; }

  // A string whose opening quote is at pos_; pos_ ends past its closing quote.
  bool string() {
    for (std::size_t i = pos_ + 1; i < text_.size(); ++i) {
      if (text_[i] == '\\') {
        ++i;
      } else if (text_[i] == '"') {
        pos_ = i + 1;
        return true;
      }
    }
    return false;
  }

  bool value(JsonSpan& span, int depth) {
    if (!skipSpace()) return false;
    span.begin = pos_;
    const char c = text_[pos_];
    bool ok = false;
    if (c == '{' || c == '[') {
      if (depth >= kMaxJsonDepth) return false;
      ok = c == '{' ? object(span, depth + 1) : array(span, depth + 1);
    } else if (c == '"') {
      ok = string();
    } else {
      const std::size_t start = pos_;
      while (pos_ < text_.size() && isWordByte(text_[pos_]))
        ++pos_;
      ok = pos_ > start;
    }
    span.end = pos_;
    return ok;
  }

  bool object(JsonSpan& span, int depth) {
    span.kind = JsonSpan::Kind::Object;
    ++pos_;
    while (!at('}')) {
      if (!at('"')) return false;
      JsonSpanMember& member = span.members.emplace_back();
      member.keyBegin = pos_;
      if (!string()) return false;
      member.key = keyText(member.keyBegin, pos_);
      if (!at(':')) return false;
      ++pos_;
      if (!value(member.value, depth)) return false;
      if (at(',')) {
        ++pos_;
      } else if (!at('}')) {
        return false;
      }
    }
    ++pos_;
    return true;
  }

  bool array(JsonSpan& span, int depth) {
    span.kind = JsonSpan::Kind::Array;
    ++pos_;
    while (!at(']')) {
      if (!value(span.elements.emplace_back(), depth)) return false;
      if (at(',')) {
        ++pos_;
      } else if (!at(']')) {
        return false;
      }
    }
    ++pos_;
    return true;
  }

  // Keys are almost always plain; one with an escape is decoded by the parser itself, so the two
  // can never read it differently.
  std::string keyText(std::size_t begin, std::size_t end) const {
    const std::string_view quoted = text_.substr(begin, end - begin);
    if (quoted.find('\\') == std::string_view::npos) {
      return std::string(quoted.substr(1, quoted.size() - 2));
    }
    try {
      return parseJson(quoted)->getString();
    } catch (const JsonParsingError&) {
      return {};
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const JsonSpanMember* JsonSpan::find(std::string_view key) const noexcept {
  for (auto member = members.rbegin(); member != members.rend(); ++member) {
    if (member->key == key) return &*member;
  }
  return nullptr;
}

std::optional<JsonSpan> scanJsonSpans(std::string_view text) {
  return Scanner(text).document();
}

}  // namespace relaydash
