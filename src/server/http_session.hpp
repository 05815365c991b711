#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/value.hpp"
#include "runtime/task.hpp"
#include "transport/answer.hpp"
#include "transport/http_headers.hpp"
#include "transport/request.hpp"

namespace relaydash {

// The application context, defined by the application; the framework only carries it.
struct Context;

// One request in flight, handed to its handler by reference.
struct Session {
  // The request path below the prefix the router matched: segments joined by "/", no leading
  // or trailing "/", empty when the whole path matched. It views the request's path or
  // `pathStorage`.
  std::string_view path;
  // The transport's record of the request; it stays put until the handler's future completes.
  Request& request;
  Context& context;
  std::string pathStorage;
  // The signed-in user, as the API's token check found it in the token; empty for a procedure
  // that needs no token.
  std::string user;
  // Tells apart the sign-ins whose tokens the requests carry (a digest of the token), for what
  // belongs to one sign-in alone; 0 for a procedure that needs no token.
  std::uint64_t signIn = 0;
};

// Answers. Each form writes one answer through the connection's writer (transport/answer.hpp):
// the status line, the header lines, Content-Length, an empty line, then the body, which a HEAD
// request's answer leaves out (its Content-Length still tells what a GET would carry). The
// future completes once the answer is queued or written, and what the call was given is no
// longer needed. A peer that has gone away makes the answer a quiet no-op; any other write
// failure fails the future with OSError. Nothing records that an answer was written: a second
// call writes a second answer.

// The body as given, with the header fields written as given (names in their wire form,
// "Content-Type"). An empty body is Content-Length: 0, unlike the status form below.
Task<void> respond(Session& session, int code, std::string_view body, HeaderFields fields = {});
// An answer whose head was written once, when it was made.
Task<void> respond(Session& session, const ConstantAnswer& answer);
// The JSON form: "Content-Type: application/json" and the value written compactly.
Task<void> respond(Session& session, int code, const JsonNode& json);
// The JSON form with status 200.
Task<void> respond(Session& session, const JsonNode& json);
// The status form: the status text is the body ("404 Not Found"), without a Content-Type.
Task<void> respond(Session& session, int code);

// The header-map forms: every value of every name in the map's order, each name as
// httpHeaderCase writes it. The JSON forms first set "Content-Type" to "application/json" in the
// caller's map, which keeps it.
Task<void> respond(Session& session, int code, std::string_view body, const HttpHeaders& headers);
Task<void> respond(Session& session, int code, const JsonNode& json, HttpHeaders& headers);
Task<void> respond(Session& session, const JsonNode& json, HttpHeaders& headers);
Task<void> respond(Session& session, int code, const HttpHeaders& headers);

// A stored header name in its written form: the first character and each character after a
// run of "-" or "_" upper-cased, runs of "-"/"_" written as one "-", and a "-" put before an
// upper-case letter ("contentLength" → "Content-Length", "x_forwarded__for" →
// "X-Forwarded-For").
std::string httpHeaderCase(std::string_view name);
// The same, appended to out.
void appendHttpHeaderCase(std::string& out, std::string_view name);

}  // namespace relaydash
