#pragma once

#include <string>
#include <string_view>

#include "transport/http_headers.hpp"
#include "transport/url.hpp"

namespace relaydash {

class Socket;

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

// One parsed request. The transport keeps one per connection and reuses it for every request
// on it; a handler may keep references into it until its future completes.
struct Request {
  Socket* client = nullptr;  // answers are written here
  HttpMethod reqMethod = HttpMethod::HttpGet;
  HttpHeaders headers;
  Protocol protocol;
  Url url;
  std::string hostname;  // the peer's address
  std::string body;
};

}  // namespace relaydash
