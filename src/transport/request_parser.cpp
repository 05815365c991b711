#include "transport/request_parser.hpp"

#include <array>

#include "ascii/ascii.hpp"
#include "transport/limits.hpp"
#include "transport/store_text.hpp"

namespace relaydash {
namespace {

struct MethodRow {
  std::string_view name;
  HttpMethod method;
};

constexpr std::array kMethods = {
    MethodRow{"GET", HttpMethod::HttpGet},         MethodRow{"POST", HttpMethod::HttpPost},
    MethodRow{"HEAD", HttpMethod::HttpHead},       MethodRow{"PUT", HttpMethod::HttpPut},
    MethodRow{"DELETE", HttpMethod::HttpDelete},   MethodRow{"PATCH", HttpMethod::HttpPatch},
    MethodRow{"OPTIONS", HttpMethod::HttpOptions}, MethodRow{"CONNECT", HttpMethod::HttpConnect},
    MethodRow{"TRACE", HttpMethod::HttpTrace},
};

using ascii::equalsIgnoreCase;
using ascii::isDigit;
using ascii::isSpace;

std::string_view skipLeadingSpace(std::string_view s) noexcept {
  while (!s.empty() && isSpace(s.front()))
    s.remove_prefix(1);
  return s;
}

// Reads digits from s[i], saturating; returns the index after them.
std::size_t readNatural(std::string_view s, std::size_t i, int& value) noexcept {
  long long v = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > limits::kMaxVersionNumber) v = limits::kMaxVersionNumber;
  }
  value = static_cast<int>(v);
  return i;
}

}  // namespace

std::string_view methodName(HttpMethod method) noexcept {
  for (const MethodRow& row : kMethods) {
    if (row.method == method) return row.name;
  }
  return {};
}

std::optional<HttpMethod> parseMethod(std::string_view name) noexcept {
  // Compared in line: the names are a few bytes, shorter than a call to memcmp.
  const auto same = [name](std::string_view known) noexcept {
    if (known.size() != name.size()) return false;
    for (std::size_t i = 0; i < known.size(); ++i) {
      if (known[i] != name[i]) return false;
    }
    return true;
  };
  for (const MethodRow& row : kMethods) {
    if (same(row.name)) return row.method;
  }
  return std::nullopt;
}

bool parseProtocol(std::string_view text, Protocol& protocol) {
  constexpr std::string_view kPrefix = "HTTP/";
  // "HTTP" in any case: setting the 0x20 bit folds a letter to lower case, and only 'H' and 'h'
  // fold to 'h'.
  const auto folds = [](char c, char lower) noexcept { return (c | 0x20) == lower; };
  if (text.size() < kPrefix.size() || !folds(text[0], 'h') || !folds(text[1], 't') ||
      !folds(text[2], 't') || !folds(text[3], 'p') || text[4] != '/') {
    return false;
  }
  storeText(protocol.orig, text);
  // What nearly every request says, read without the general digit loop.
  if (text.size() == 8 && text[5] == '1' && text[6] == '.' && (text[7] == '1' || text[7] == '0')) {
    protocol.major = 1;
    protocol.minor = text[7] - '0';
    return true;
  }
  std::size_t i = readNatural(text, kPrefix.size(), protocol.major);
  ++i;  // the separator, whatever it is
  readNatural(text, i, protocol.minor);
  return true;
}

RequestLineStatus parseRequestLine(std::string_view line, PreviousRequestLine& previous,
                                   RequestHead& head) {
  std::size_t part = 0;
  for (std::size_t start = 0;; ++part) {
    const std::size_t space = line.find(' ', start);
    const std::string_view text = line.substr(start, space - start);
    switch (part) {
      case 0:
        if (const auto method = parseMethod(text)) {
          head.reqMethod = *method;
        } else {
          return RequestLineStatus::BadMethod;
        }
        break;
      case 1:
        storeText(previous.target, text);
        break;
      case 2:
        if (!parseProtocol(text, head.protocol)) return RequestLineStatus::BadVersion;
        storeText(previous.version, text);
        break;
      default:
        return RequestLineStatus::TooManyParts;
    }
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  parseUrl(previous.target, head.url);
  if (part < 2 && !parseProtocol(previous.version, head.protocol)) head.protocol = Protocol{};
  return RequestLineStatus::Ok;
}

std::size_t parseHeaderLine(std::string_view line, HttpHeaders& headers) {
  const std::size_t colon = line.find(':');
  const std::string_view name = line.substr(0, colon);
  const std::string_view rest =
      colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
  if (rest.empty()) {
    if (name.empty()) return 0;
    headers.reset(name, 1).front().clear();
    return 1;
  }
  const std::size_t firstComma = rest.find(',');
  if (firstComma == std::string_view::npos || equalsIgnoreCase(name, "cookie")) {
    storeText(headers.reset(name, 1).front(), skipLeadingSpace(rest));
    return 1;
  }
  std::size_t count = 1;
  for (char c : rest.substr(firstComma))
    count += c == ',';
  auto& values = headers.reset(name, count);
  std::size_t start = 0;
  for (std::string& value : values) {
    const std::size_t comma = rest.find(',', start);
    storeText(value, skipLeadingSpace(rest.substr(start, comma - start)));
    start = comma + 1;
  }
  return count;
}

std::optional<long long> parseContentLength(std::string_view text) noexcept {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '+') ++i;
  if (i >= text.size() || !isDigit(text[i])) return std::nullopt;
  long long value = 0;
  while (i < text.size()) {
    if (isDigit(text[i])) {
      value = value * 10 + (text[i] - '0');
      if (value > limits::kMaxContentLength) value = limits::kMaxContentLength;
      ++i;
    } else if (text[i] == '_' && i + 1 < text.size() && isDigit(text[i + 1])) {
      ++i;
    } else {
      break;
    }
  }
  return value;
}

}  // namespace relaydash
