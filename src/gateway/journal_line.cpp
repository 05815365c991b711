#include "gateway/journal_line.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace relaydash {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A cursor over one line; every read checks the end, and a failed read leaves the line
// unparsed as a whole.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void blanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool take(char c) {
    blanks();
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool peek(char c) {
    blanks();
    return pos_ < text_.size() && text_[pos_] == c;
  }
  bool atEnd() {
    blanks();
    return pos_ == text_.size();
  }

  // A string; decoded into `out` when given, otherwise only skipped.
  bool string(std::string* out) {
    if (!take('"')) return false;
    for (;;) {
      // The run up to the next quote or escape goes over in one piece.
      std::size_t stop = pos_;
      while (stop < text_.size() && text_[stop] != '"' && text_[stop] != '\\')
        ++stop;
      if (stop >= text_.size()) return false;
      if (out) out->append(text_.data() + pos_, stop - pos_);
      pos_ = stop + 1;
      if (text_[stop] == '"') return true;
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      if (e == 'u') {
        std::uint32_t cp = 0;
        if (!hex4(cp)) return false;
        if (out) decodedEscape(*out, cp);
        continue;
      }
      char plain;
      switch (e) {
        case 'n':
          plain = '\n';
          break;
        case 't':
          plain = '\t';
          break;
        case 'r':
          plain = '\r';
          break;
        case 'b':
          plain = '\b';
          break;
        case 'f':
          plain = '\f';
          break;
        case '"':
        case '\\':
        case '/':
          plain = e;
          break;
        default:
          return false;
      }
      if (out) *out += plain;
    }
  }

  // A JSON number, skipped.
  bool number() {
    blanks();
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           std::string_view("+-.eE0123456789").find(text_[pos_]) != std::string_view::npos)
      ++pos_;
    return pos_ > start;
  }

  bool word(std::string_view w) {
    blanks();
    if (text_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  // A byte of an array of bytes.
  bool byte(unsigned& value) {
    blanks();
    const char* begin = text_.data() + pos_;
    const auto [end, error] = std::from_chars(begin, text_.data() + text_.size(), value);
    if (error != std::errc() || value > 255) return false;
    pos_ += static_cast<std::size_t>(end - begin);
    return true;
  }

  // Any value, skipped.
  bool skipValue(int depth) {
    blanks();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '"') return string(nullptr);
    if (c == '[' || c == '{') {
      if (depth >= kMaxJournalNesting) return false;
      const char close = c == '[' ? ']' : '}';
      ++pos_;
      if (take(close)) return true;
      do {
        if (c == '{' && (!string(nullptr) || !take(':'))) return false;
        if (!skipValue(depth + 1)) return false;
      } while (take(','));
      return take(close);
    }
    if (c == 'n') return word("null");
    if (c == 't') return word("true");
    if (c == 'f') return word("false");
    return number();
  }

  // MESSAGE: appended to `raw` as bytes, checked for UTF-8 by the caller.
  bool message(std::string& raw, int depth) {
    if (peek('"')) return string(&raw);
    if (word("null")) return true;
    if (!take('[')) return false;
    if (take(']')) return true;
    if (peek('[') || peek('"') || peek('n')) {
      // Several values: one per line.
      if (depth >= kMaxJournalNesting) return false;
      bool first = true;
      do {
        if (!first) raw += '\n';
        first = false;
        if (!message(raw, depth + 1)) return false;
      } while (take(','));
      return take(']');
    }
    do {
      unsigned value = 0;
      if (!byte(value)) return false;
      raw += static_cast<char>(static_cast<unsigned char>(value));
    } while (take(','));
    return take(']');
  }

 private:
  bool hex4(std::uint32_t& cp) {
    if (text_.size() - pos_ < 4) return false;
    const char* begin = text_.data() + pos_;
    const auto [end, error] = std::from_chars(begin, begin + 4, cp, 16);
    if (error != std::errc() || end != begin + 4) return false;
    pos_ += 4;
    return true;
  }

  // A \u escape; a surrogate pair is one character, a lone surrogate is no character at all.
  void decodedEscape(std::string& out, std::uint32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
      const std::size_t saved = pos_;
      pos_ += 2;
      std::uint32_t low = 0;
      if (hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
        return;
      }
      pos_ = saved;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += kReplacement;
      return;
    }
    appendUtf8(out, cp);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::optional<std::int64_t> decimal(std::string_view text) {
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

}  // namespace

std::optional<JournalEntry> parseJournalLine(std::string_view line) {
  Scanner in(line);
  if (!in.take('{')) return std::nullopt;
  JournalEntry entry;
  bool hasCursor = false, hasTime = false;
  std::string key, value, raw;
  if (!in.take('}')) {
    do {
      key.clear();
      if (!in.string(&key) || !in.take(':')) return std::nullopt;
      if (key == "MESSAGE") {
        raw.clear();
        if (!in.message(raw, 0)) return std::nullopt;
        entry.message = validUtf8(raw);
      } else if (key == "__CURSOR" || key == "__REALTIME_TIMESTAMP" || key == "PRIORITY" ||
                 key == "_PID") {
        value.clear();
        if (!in.peek('"')) {
          if (!in.skipValue(0)) return std::nullopt;
          continue;
        }
        if (!in.string(&value)) return std::nullopt;
        if (key == "__CURSOR") {
          entry.cursor = value;
          hasCursor = true;
        } else if (key == "__REALTIME_TIMESTAMP") {
          const std::optional<std::int64_t> t = decimal(value);
          if (t) entry.realtime = *t;
          hasTime = t.has_value();
        } else if (key == "_PID") {
          const std::optional<std::int64_t> p = decimal(value);
          if (p && *p > 0 && *p <= std::numeric_limits<int>::max())
            entry.pid = static_cast<int>(*p);
        } else if (const std::optional<std::int64_t> p = decimal(value); p && *p >= 0 && *p <= 7) {
          entry.priority = static_cast<int>(*p);
        }
      } else if (!in.skipValue(0)) {
        return std::nullopt;
      }
    } while (in.take(','));
    if (!in.take('}')) return std::nullopt;
  }
  if (!in.atEnd() || !hasCursor || !hasTime) return std::nullopt;
  return entry;
}

}  // namespace relaydash
