#pragma once

#include <optional>
#include <string_view>

#include "transport/request.hpp"

// The pieces of request parsing that need no socket: plain functions over one line of text.
namespace relaydash {

enum class RequestLineStatus { Ok, BadMethod, BadVersion, TooManyParts };

// The method for its exact, case-sensitive name.
std::optional<HttpMethod> parseMethod(std::string_view name) noexcept;

// Reads "HTTP/" (any case), a major number, any one character and a minor number; missing
// numbers count as 0. False when the prefix is missing.
bool parseProtocol(std::string_view text, Protocol& protocol);

// Splits the request line at every single space: method, target, version. A part that is not
// there leaves the request's field as the previous request on the connection left it.
RequestLineStatus parseRequestLine(std::string_view line, Request& request);

// Stores one header line: the name before the first ":", the rest split at commas with leading
// white space removed from each value (a cookie line stays one value). Returns the number of
// values stored (0 for a line that stores nothing).
std::size_t parseHeaderLine(std::string_view line, HttpHeaders& headers);

// An optional "+", then digits, with single underscores between digits skipped; anything after
// the digits is ignored and the value saturates. Empty when there are no digits.
std::optional<long long> parseContentLength(std::string_view text) noexcept;

}  // namespace relaydash
