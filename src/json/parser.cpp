#include "json/parser.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "ascii/ascii.hpp"
#include "json/limits.hpp"

namespace relaydash {

namespace {

constexpr std::string_view kSourceName = "input";

// What the parser wanted where it failed.
constexpr std::string_view kValueItem = "{";
constexpr std::string_view kKeyItem = "string literal as key";
constexpr std::string_view kColonItem = ":";
constexpr std::string_view kObjectEndItem = "}";
constexpr std::string_view kArrayEndItem = "]";
constexpr std::string_view kEndItem = "EOF";
constexpr std::string_view kFiniteNumberItem = "number within a double's range";

// skipSpace() results that are not a byte.
constexpr int kEndOfText = -1;
constexpr int kOpenComment = -2;

using ascii::hexValue;
using ascii::isDigit;

bool isWordByte(char c) {
  return ascii::isAlnum(c) || c == '_';
}

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

// The value of a float literal that from_chars reports out of range: an infinity when its
// magnitude is too large, a zero when too small, as the C library's strtod would give.
double outOfRange(std::string_view text) {
  bool negative = text.front() == '-';
  std::size_t exponentAt = text.find_first_of("eE");
  std::string_view mantissa = text.substr(0, exponentAt);
  std::int64_t exponent = 0;
  if (exponentAt != std::string_view::npos) {
    std::string_view digits = text.substr(exponentAt + 1);
    bool negativeExponent = digits.front() == '-';
    if (digits.front() == '-' || digits.front() == '+') digits.remove_prefix(1);
    for (char c : digits) {
      exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'),
                                        1'000'000);  // capped: beyond, all are alike
    }
    if (negativeExponent) exponent = -exponent;
  }
  // Decimal exponent of the first significant digit: positive means at least 1.
  std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return negative ? -0.0 : 0.0;
  std::int64_t magnitude = first < point ? static_cast<std::int64_t>(point - first)
                                         : -static_cast<std::int64_t>(first - point - 1);
  double value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -value : value;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonNodePtr parseDocument() {
    JsonNodePtr value = parseValue(0);
    if (skipSpace() != kEndOfText) fail(kEndItem);
    return value;
  }

 private:
  [[noreturn]] void fail(std::string_view item) const {
    // Positions are worked out only here, so the common path keeps no line count.
    std::string_view before = text_.substr(0, pos_);
    std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    std::size_t lineStart = before.rfind('\n');
    std::size_t column = lineStart == std::string_view::npos ? pos_ : pos_ - lineStart - 1;
    throw JsonParsingError(line, column, item);
  }

  // Moves over white space and comments to the next token and returns its first byte,
  // kEndOfText, or kOpenComment for a block comment that never closes (left at its "/*", so the
  // error points at it). A "/" that starts no comment is returned as a byte no token begins with.
  int skipSpace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        std::size_t end = text_.find('\n', pos_ + 2);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
        std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return kOpenComment;
        pos_ = end + 2;
      } else {
        return static_cast<unsigned char>(c);
      }
    }
    return kEndOfText;
  }

  JsonNodePtr parseValue(int depth) {
    int c = skipSpace();
    switch (c) {
      case '{':
        return parseObject(depth + 1);
      case '[':
        return parseArray(depth + 1);
      case '"': {
        JsonString value;
        if (!readString(value.text)) fail(kValueItem);
        return std::make_shared<JsonNode>(std::move(value));
      }
      default:
        if (isDigit(static_cast<char>(c)) || c == '-' || c == '.') {
          if (JsonNodePtr number = readNumber()) return number;
        } else if (c >= 0 && isWordByte(static_cast<char>(c))) {
          if (JsonNodePtr literal = readLiteral()) return literal;
        }
        fail(kValueItem);
    }
  }

  void enter(int depth) const {
    if (depth > kMaxJsonDepth) {
      fail("nesting depth of at most " + std::to_string(kMaxJsonDepth));
    }
  }

  JsonNodePtr parseObject(int depth) {
    enter(depth);
    ++pos_;
    JsonObject members;
    int c = skipSpace();
    while (c != '}') {
      std::string key;
      if (c != '"' || !readString(key)) fail(kKeyItem);
      if (skipSpace() != ':') fail(kColonItem);
      ++pos_;
      members.set(std::move(key), parseValue(depth));
      c = skipSpace();
      if (c == ',') {
        ++pos_;
        c = skipSpace();
      } else if (c != '}') {
        fail(kObjectEndItem);
      }
    }
    ++pos_;
    return std::make_shared<JsonNode>(std::move(members));
  }

  JsonNodePtr parseArray(int depth) {
    enter(depth);
    ++pos_;
    JsonArray elements;
    int c = skipSpace();
    while (c != ']') {
      elements.push_back(parseValue(depth));
      c = skipSpace();
      if (c == ',') {
        ++pos_;
        c = skipSpace();
      } else if (c != ']') {
        fail(kArrayEndItem);
      }
    }
    ++pos_;
    return std::make_shared<JsonNode>(std::move(elements));
  }

  // Reads the string whose opening quote is at pos_ into out. When the text ends inside it, the
  // string is no token at all: returns false with pos_ back on the quote.
  bool readString(std::string& out) {
    std::size_t start = pos_++;
    while (true) {
      std::size_t stop = text_.find_first_of("\"\\", pos_);
      if (stop == std::string_view::npos || (text_[stop] == '\\' && stop + 1 == text_.size())) {
        pos_ = start;
        return false;
      }
      out.append(text_.substr(pos_, stop - pos_));
      pos_ = stop + 1;
      if (text_[stop] == '"') return true;
      char c = text_[pos_++];
      switch (c) {
        case '"':
        case '\\':
        case '/':
        case '\'':
          out += c;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'v':
          out += '\v';
          break;
        case 'u':
          readUnicodeEscape(out);
          break;
        default:
          out += '\\';
          out += c;
      }
    }
  }

  // The four hex digits at pos_, or -1 (pos_ unchanged) when there are not four.
  std::int32_t readHex4() {
    if (text_.size() - pos_ < 4) return -1;
    std::int32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      int digit = hexValue(text_[pos_ + i]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    pos_ += 4;
    return value;
  }

  // pos_ is just past "\u". A malformed escape stays in the text as it stands, like an unknown
  // one; a high surrogate without a low one after it gives no character.
  void readUnicodeEscape(std::string& out) {
    std::int32_t cp = readHex4();
    if (cp < 0) {
      out += "\\u";
      return;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (text_.substr(pos_, 2) != "\\u") return;
      std::size_t afterHigh = pos_;
      pos_ += 2;
      std::int32_t low = readHex4();
      if (low < 0xDC00 || low > 0xDFFF) {
        pos_ = afterHigh;  // the next escape is read on its own
        return;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(out, static_cast<std::uint32_t>(cp));
  }

  // A number starts at pos_. Returns nullptr with pos_ unchanged when its text is malformed
  // (a lone "-", "1.", "1e", ...).
  JsonNodePtr readNumber() {
    std::size_t start = pos_;
    auto digits = [this] {
      std::size_t from = pos_;
      while (pos_ < text_.size() && isDigit(text_[pos_]))
        ++pos_;
      return pos_ - from;
    };
    auto at = [this](char c) { return pos_ < text_.size() && text_[pos_] == c; };
    bool isFloat = false;
    if (at('-')) ++pos_;
    bool valid = digits() > 0;
    if (at('.')) {
      ++pos_;
      isFloat = true;
      valid = digits() > 0;
    }
    if (valid && (at('e') || at('E'))) {
      ++pos_;
      isFloat = true;
      if (at('+') || at('-')) ++pos_;
      valid = digits() > 0;
    }
    if (!valid) {
      pos_ = start;
      return nullptr;
    }
    std::string_view text = text_.substr(start, pos_ - start);
    const char* first = text.data();
    const char* last = first + text.size();
    if (isFloat) {
      // from_chars reads "." and "-." as if a 0 stood before the point, and ignores the locale.
      double value = 0.0;
      if (std::from_chars(first, last, value).ec == std::errc::result_out_of_range) {
        value = outOfRange(text);
      }
      // Beyond a double's range there is no number to keep, and no writer could give one back.
      if (std::isinf(value)) {
        pos_ = start;
        fail(kFiniteNumberItem);
      }
      return std::make_shared<JsonNode>(value);
    }
    std::int64_t value = 0;
    if (std::from_chars(first, last, value).ec == std::errc::result_out_of_range) {
      return std::make_shared<JsonNode>(JsonString{std::string(text), true});
    }
    return std::make_shared<JsonNode>(value);
  }

  // true, false or null; any other word is no token (nullptr, pos_ unchanged).
  JsonNodePtr readLiteral() {
    std::size_t end = pos_;
    while (end < text_.size() && isWordByte(text_[end]))
      ++end;
    std::string_view word = text_.substr(pos_, end - pos_);
    JsonNodePtr literal;
    if (word == "true") {
      literal = std::make_shared<JsonNode>(true);
    } else if (word == "false") {
      literal = std::make_shared<JsonNode>(false);
    } else if (word == "null") {
      literal = std::make_shared<JsonNode>();
    } else {
      return nullptr;
    }
    pos_ = end;
    return literal;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string parsingErrorMessage(std::size_t line, std::size_t column, std::string_view item) {
  std::string message(kSourceName);
  message += '(';
  message += std::to_string(line);
  message += ", ";
  message += std::to_string(column);
  message += ") Error: ";
  message += item;
  message += " expected";
  return message;
}

}  // namespace

JsonParsingError::JsonParsingError(std::size_t line, std::size_t column, std::string_view item)
    : std::runtime_error(parsingErrorMessage(line, column, item)), line_(line), column_(column) {}

JsonNodePtr parseJson(std::string_view text) {
  return Parser(text).parseDocument();
}

}  // namespace relaydash
