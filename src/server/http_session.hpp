#pragma once

#include <string>
#include <string_view>

#include "json/value.hpp"
#include "runtime/task.hpp"
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
};

// Answers are written straight to the request's socket as one write: the status line, each
// header line (names as httpHeaderCase writes them), Content-Length, an empty line, the body.
// A peer that has gone away makes the answer a quiet no-op; any other write failure fails the
// future with OSError. Nothing records that an answer was written: a second call writes a
// second answer.

// The core form: the content as body; headers may be null.
Task<void> respond(Session& session, int code, std::string_view content,
                   HttpHeaders* headers = nullptr);
inline Task<void> respond(Session& session, int code, const char* content,
                          HttpHeaders* headers = nullptr) {
  return respond(session, code, std::string_view(content), headers);
}
// The JSON form: sets "Content-Type: application/json" in the given map (changed in place) or
// a new one, and writes the value compactly.
Task<void> respond(Session& session, int code, const JsonNode& json,
                   HttpHeaders* headers = nullptr);
// The status-only form: the status text is the body; no Content-Type.
Task<void> respond(Session& session, int code, HttpHeaders* headers = nullptr);
// The JSON form with status 200.
Task<void> respond(Session& session, const JsonNode& json, HttpHeaders* headers = nullptr);

// A stored header name in its written form: the first character and each character after a
// run of "-" or "_" upper-cased, runs of "-"/"_" written as one "-", and a "-" put before an
// upper-case letter ("contentLength" → "Content-Length", "x_forwarded__for" →
// "X-Forwarded-For").
std::string httpHeaderCase(std::string_view name);
// The same, appended to out.
void appendHttpHeaderCase(std::string& out, std::string_view name);

}  // namespace relaydash
