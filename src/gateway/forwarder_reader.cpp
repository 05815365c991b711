#include "gateway/forwarder_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "ascii/ascii.hpp"
#include "gateway/forwarder_comments.hpp"

namespace relaydash {

namespace {

// The forwarder refuses a value inside more than this many objects and arrays.
constexpr int kMaxNesting = 19;
constexpr std::size_t kMaxQuirks = 5;

constexpr std::string_view kTextEnds = "the text ends before the document is complete";
constexpr std::string_view kTailIgnored =
    "the forwarder ignores everything from here on: it is after the end of the document";

// Why the forwarder refuses the text, at a byte offset, and how far it had read the text then.
struct Refusal {
  std::size_t offset;
  std::string message;
  std::size_t seen;
};

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return;
  }
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    }
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
}

bool startsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view word) {
  return ascii::equalsIgnoreCase(text.substr(at, word.size()), word);
}

// The forwarder's strict JSON over the text left after comment removal.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // The top-level value; afterwards end() is where it ends.
  JsonNodePtr document() { return value(0); }
  std::size_t end() const noexcept { return pos_; }

  // The first byte after the end that is not white space, or the text's size.
  std::size_t tail() {
    skipSpace();
    return pos_;
  }

 private:
  [[noreturn]] void refuse(std::size_t offset, std::string message) const {
    if (offset >= text_.size()) message = kTextEnds;
    throw Refusal{offset, std::move(message), std::max({offset, pos_, furthest_}) + 1};
  }

  // The byte at pos_ after white space, or -1 at the end of the text.
  int skipSpace() {
    while (pos_ < text_.size() && ascii::isSpace(text_[pos_]))
      ++pos_;
    return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1;
  }

  // A value inside `nesting` objects and arrays. Deeper nesting is refused before anything is
  // read, so the recursion ends there.
  JsonNodePtr value(int nesting) {
    int c = skipSpace();
    if (nesting > kMaxNesting) refuse(pos_, "more than 19 levels of nesting");
    if (c == '{') return object(nesting);
    if (c == '[') return array(nesting);
    if (c == '"') return std::make_shared<JsonNode>(JsonString{string(), false});
    if (c == 't' || c == 'f' || c == 'n') return literal();
    if (c == '-' || ascii::isDigit(static_cast<char>(c))) return number();
    refuse(pos_, "a value was expected here");
  }

  JsonNodePtr object(int nesting) {
    ++pos_;
    JsonObject members;
    if (skipSpace() == '}') {
      ++pos_;
      return std::make_shared<JsonNode>(std::move(members));
    }
    while (true) {
      if (skipSpace() != '"') refuse(pos_, "a member name in quotes was expected here");
      std::size_t keyAt = pos_;
      std::string key = string();
      if (skipSpace() != ':') refuse(pos_, "\":\" was expected here");
      ++pos_;
      JsonNodePtr member = value(nesting + 1);
      if (members.contains(key))
        refuse(keyAt, "the member name \"" + key + "\" appears twice in the same object");
      members.set(std::move(key), std::move(member));
      if (!separator('}')) break;
    }
    return std::make_shared<JsonNode>(std::move(members));
  }

  JsonNodePtr array(int nesting) {
    ++pos_;
    JsonArray elements;
    if (skipSpace() == ']') {
      ++pos_;
      return std::make_shared<JsonNode>(std::move(elements));
    }
    do {
      elements.push_back(value(nesting + 1));
    } while (separator(']'));
    return std::make_shared<JsonNode>(std::move(elements));
  }

  // After a member or element: true past a ",", false past the closing bracket.
  bool separator(char close) {
    std::string closing(1, close);
    int c = skipSpace();
    if (c == close) {
      ++pos_;
      return false;
    }
    if (c != ',') refuse(pos_, "\",\" or \"" + closing + "\" was expected here");
    std::size_t comma = pos_++;
    if (skipSpace() == close) {
      refuse(comma, "a \",\" before \"" + closing + "\" (the forwarder refuses a trailing comma)");
    }
    return true;
  }

  // The text whose opening quote is at pos_, its escapes decoded.
  std::string string() {
    std::size_t open = pos_;
    std::size_t close = open + 1;
    while (close < text_.size() && text_[close] != '"')
      close += text_[close] == '\\' ? 2 : 1;
    furthest_ = std::max(furthest_, close);
    if (close >= text_.size()) refuse(open, "the text ends inside a string");
    std::string out;
    for (pos_ = open + 1; pos_ < close;) {
      char c = text_[pos_];
      if (c != '\\') {
        out += c;
        ++pos_;
        continue;
      }
      escape(out, text_[pos_ + 1]);
    }
    pos_ = close + 1;
    return out;
  }

  // The escape at pos_ (a backslash and `c`); moves past it.
  void escape(std::string& out, char c) {
    static constexpr std::string_view kFrom = "\"\\/bfnrt";
    static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    if (std::size_t known = kFrom.find(c); known != std::string_view::npos) {
      out += kTo[known];
      pos_ += 2;
      return;
    }
    if (c != 'u') {
      bool visible = c > ' ' && c < 127;
      refuse(pos_, visible ? std::string("the escape \\") + c + " is not one the forwarder knows"
                           : "this escape is not one the forwarder knows");
    }
    std::size_t at = pos_;
    std::int32_t cp = hex4(at + 2);
    if (cp < 0) refuse(at, "the escape \\u needs four hexadecimal digits");
    pos_ = at + 6;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      std::int32_t low = text_.substr(pos_, 2) == "\\u" ? hex4(pos_ + 2) : -1;
      if (low < 0xDC00 || low > 0xDFFF) {
        refuse(at, "a \\u escape of a high surrogate must be followed by one of a low surrogate");
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      pos_ += 6;
    }
    appendUtf8(out, static_cast<std::uint32_t>(cp));
  }

  // The four hexadecimal digits at `at`, or -1.
  std::int32_t hex4(std::size_t at) const {
    if (at > text_.size() || text_.size() - at < 4) return -1;
    std::int32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
      int digit = ascii::hexValue(text_[i]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    return value;
  }

  // true, false or null: the forwarder compares the word's bytes and reads on right after it.
  JsonNodePtr literal() {
    auto word = [this](std::string_view w) {
      if (text_.substr(pos_, w.size()) != w) return false;
      pos_ += w.size();
      return true;
    };
    if (word("true")) return newJBool(true);
    if (word("false")) return newJBool(false);
    if (word("null")) return newJNull();
    refuse(pos_, "true, false or null was expected here");
  }

  // How far C's strtod reads a number from pos_ (a "-" or a digit): the length of its text.
  std::size_t numberLength() const {
    std::string_view rest = text_.substr(pos_);
    std::size_t i = rest[0] == '-' ? 1 : 0;
    auto run = [&rest](std::size_t from, bool hex) {
      while (from < rest.size() &&
             (hex ? ascii::hexValue(rest[from]) >= 0 : ascii::isDigit(rest[from])))
        ++from;
      return from;
    };
    if (startsWithIgnoringCase(rest, i, "infinity")) return i + 8;
    if (startsWithIgnoringCase(rest, i, "inf")) return i + 3;
    if (startsWithIgnoringCase(rest, i, "nan")) {
      // nan(chars): letters, digits and "_" between the brackets.
      if (rest.substr(i + 3, 1) == "(") {
        std::size_t close = i + 4;
        while (close < rest.size() && (ascii::isAlnum(rest[close]) || rest[close] == '_'))
          ++close;
        if (close < rest.size() && rest[close] == ')') return close + 1;
      }
      return i + 3;
    }
    bool hex = startsWithIgnoringCase(rest, i, "0x");
    std::size_t digitsFrom = hex ? i + 2 : i;
    std::size_t end = run(digitsFrom, hex);
    bool digits = end > digitsFrom;
    if (end < rest.size() && rest[end] == '.') {
      std::size_t fraction = run(end + 1, hex);
      digits = digits || fraction > end + 1;
      if (digits) end = fraction;
    }
    if (!digits) return hex ? i + 1 : 0;  // "0x" alone is read as 0
    char mark = hex ? 'p' : 'e';
    if (end < rest.size() && ascii::toLower(rest[end]) == mark) {
      std::size_t exponent = end + 1;
      if (exponent < rest.size() && (rest[exponent] == '+' || rest[exponent] == '-')) ++exponent;
      std::size_t exponentEnd = run(exponent, false);
      if (exponentEnd > exponent) end = exponentEnd;
    }
    return end;
  }

  // A number as strtod reads it, refused where the forwarder refuses it; it becomes what
  // relaydash's own parser makes of the same literal.
  JsonNodePtr number() {
    std::size_t length = numberLength();
    if (length == 0) refuse(pos_, "a number was expected here");
    std::string_view literal = text_.substr(pos_, length);
    auto refuseNumber = [&](std::string_view why) {
      std::string shown(literal.substr(0, 20));
      if (literal.size() > 20) shown += "...";
      refuse(pos_, "the number " + shown + " is not one the forwarder reads: " + std::string(why));
    };
    bool negative = literal[0] == '-';
    std::string_view magnitude = literal.substr(negative ? 1 : 0);
    if (literal.find_first_of("xX") != std::string_view::npos) refuseNumber("it is hexadecimal");
    if (magnitude.size() > 1 && magnitude[0] == '0' && magnitude[1] != '.')
      refuseNumber("it has a leading zero");
    const char* first = literal.data();
    const char* last = first + literal.size();
    double value = 0;
    bool special = ascii::isAlpha(magnitude[0]);
    if (special) {
      value = ascii::toLower(magnitude[0]) == 'i' ? std::numeric_limits<double>::infinity()
                                                  : std::numeric_limits<double>::quiet_NaN();
      if (negative) value = -value;
    } else if (std::from_chars(first, last, value).ec != std::errc() ||
               (value != 0 && std::fabs(value) < std::numeric_limits<double>::min())) {
      // strtod's range error: too large, too small for a double, or less than a normal one.
      refuseNumber("it is out of a double's range");
    }
    pos_ += length;
    if (special || literal.find_first_of(".eE") != std::string_view::npos)
      return std::make_shared<JsonNode>(value);
    std::int64_t whole = 0;
    if (std::from_chars(first, last, whole).ec != std::errc())
      return std::make_shared<JsonNode>(JsonString{std::string(literal), true});
    return std::make_shared<JsonNode>(whole);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t furthest_ = 0;  // the furthest byte read ahead of pos_ (a text's closing quote)
};

}  // namespace

ForwarderReading readAsForwarder(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  ForwarderComments comments(text);
  auto note = [&comments](std::size_t offset, std::string message) {
    auto [line, column] = comments.place(offset);
    return TextNote{line, column, std::move(message)};
  };
  ForwarderReading reading;
  Parser parser(comments.remaining());
  std::size_t readUpTo = 0;  // differences in comments before this offset change what is read
  try {
    reading.document = parser.document();
    readUpTo = parser.end();
    if (std::size_t tail = parser.tail(); tail < text.size())
      reading.ignoredTail = note(tail, std::string(kTailIgnored));
  } catch (Refusal& refusal) {
    readUpTo = refusal.seen;
    reading.refusal = note(refusal.offset, std::move(refusal.message));
  }
  for (CommentQuirk& quirk : comments.quirks(readUpTo, kMaxQuirks))
    reading.quirks.push_back(note(quirk.offset, std::move(quirk.message)));
  return reading;
}

namespace {

// Numbers as the forwarder holds them; nullopt for what is no number.
std::optional<double> asDouble(const JsonNode& node) {
  if (node.isInt() || node.isFloat()) return node.getFloat();
  if (!node.isRawNumber()) return std::nullopt;
  const std::string& text = node.getString();
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

bool sameScalar(const JsonNode& a, const JsonNode& b) {
  std::optional<double> x = asDouble(a);
  std::optional<double> y = asDouble(b);
  if (x || y) return x && y && (*x == *y || (std::isnan(*x) && std::isnan(*y)));
  if (a.kind() != b.kind()) return false;
  if (a.isBool()) return a.getBool() == b.getBool();
  return a.getString() == b.getString();
}

void collectDifferences(const JsonNode& a, const JsonNode& b, const std::string& path,
                        std::vector<std::string>& out, std::size_t limit) {
  if (out.size() >= limit) return;
  auto differs = [&](std::string where) {
    if (out.size() < limit) out.push_back(std::move(where));
  };
  if (a.isObject() && b.isObject()) {
    auto member = [&path](const std::string& key) { return path.empty() ? key : path + "." + key; };
    for (const JsonMember& m : a.object()) {
      if (const JsonNodePtr* other = b.object().find(m.key)) {
        collectDifferences(*m.value, **other, member(m.key), out, limit);
      } else {
        differs(member(m.key));
      }
    }
    for (const JsonMember& m : b.object()) {
      if (!a.object().contains(m.key)) differs(member(m.key));
    }
  } else if (a.isArray() && b.isArray()) {
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
      std::string element = path + "[" + std::to_string(i) + "]";
      if (i < common) {
        collectDifferences(*a.array()[i], *b.array()[i], element, out, limit);
      } else {
        differs(element);
      }
    }
  } else if (a.isObject() || a.isArray() || b.isObject() || b.isArray() || !sameScalar(a, b)) {
    differs(path);
  }
}

}  // namespace

std::vector<std::string> differingMembers(const JsonNode& a, const JsonNode& b, std::size_t limit) {
  std::vector<std::string> out;
  collectDifferences(a, b, "", out, limit);
  return out;
}

}  // namespace relaydash
