#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "transport/request.hpp"

// The pieces of request parsing that look at one line: plain functions over its text. The limits
// they apply are in limits.hpp; request_head.hpp puts them together into a head.
namespace relaydash {

enum class RequestLineStatus { Ok, BadMethod, BadVersion, TooManyParts };

// The method for its exact, case-sensitive name.
std::optional<HttpMethod> parseMethod(std::string_view name) noexcept;

// Reads "HTTP/" (any case), a major number, any one character and a minor number; missing
// numbers count as 0. False when the prefix is missing.
bool parseProtocol(std::string_view text, Protocol& protocol);

// The target and version in force on a connection: a request line that leaves them out keeps
// those of the request before it (an empty target and no version, read as 0.0, at first).
struct PreviousRequestLine {
  std::string target;
  std::string version;
};

// Splits the request line at every single space and takes the parts in order: the method, the
// target, the version. A part that is not there keeps the previous request line's; the parts
// before a bad one are taken all the same (they stay in force for the next line). On Ok the
// head's method, url and protocol are set.
RequestLineStatus parseRequestLine(std::string_view line, PreviousRequestLine& previous,
                                   RequestHead& head);

// Stores one header line: the name before the first ":", the rest split at commas with leading
// white space removed from each value (a cookie line stays one value). Returns the number of
// values stored (0 for a line that stores nothing).
std::size_t parseHeaderLine(std::string_view line, HttpHeaders& headers);

// An optional "+", then digits, with single underscores between digits skipped; anything after
// the digits is ignored and the value saturates. Empty when there are no digits.
std::optional<long long> parseContentLength(std::string_view text) noexcept;

}  // namespace relaydash
