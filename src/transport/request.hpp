#pragma once

#include <string>
#include <string_view>

#include "transport/http_headers.hpp"
#include "transport/url.hpp"

namespace relaydash {

class AnswerWriter;

enum class HttpMethod {
  HttpHead,
  HttpGet,
  HttpPost,
  HttpPut,
  HttpDelete,
  HttpTrace,
  HttpOptions,
  HttpConnect,
  HttpPatch
};

// The method's name as written on the wire ("GET").
std::string_view methodName(HttpMethod method) noexcept;

struct Protocol {
  std::string orig;  // as received, e.g. "HTTP/1.1"
  int major = 0;
  int minor = 0;
};

// What a request's head says: its request line and header lines.
struct RequestHead {
  HttpMethod reqMethod = HttpMethod::HttpGet;
  HttpHeaders headers;  // names in lower case
  Protocol protocol;
  Url url;
};

// One request as the callback receives it. It stays put, and so does everything it refers to,
// until the callback's future completes. The callback reads the head and leaves it as it is:
// the connection's next request may find it already filled (HeadMemo).
struct Request : RequestHead {
  // Where the answers go: the connection's writer, which keeps them in request order.
  AnswerWriter* writer = nullptr;
  // The peer's address: a view of the connection's own copy, which outlives the request.
  std::string_view hostname;
  // The request came over TLS.
  bool secure = false;
  std::string body;
};

}  // namespace relaydash
