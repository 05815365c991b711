#pragma once

#include <string>
#include <string_view>

namespace relaydash {

// A request target split into its components, without percent-decoding.
struct Url {
  std::string scheme, username, password, hostname, port, path, query, anchor;
  bool opaque = false;  // "scheme:rest" with no "//" authority
  bool isIpv6 = false;  // the host was written in brackets
};

// Splits the target into `url`, overwriting every field (storage is reused). Never fails: any
// text is some URI reference.
void parseUrl(std::string_view target, Url& url);

}  // namespace relaydash
