#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/request.hpp"

namespace relaydash {

// The names a request's Host may give for the API to answer it, besides IP address literals and
// "localhost", which always may. Names are compared without case and without a final dot.
class AllowedHosts {
 public:
  void add(std::string_view name);
  // Each name of a list separated by spaces, tabs or commas. "*" lets every name in.
  void addList(std::string_view list);
  // Whether the host (a Host header's name part, without port) may be used.
  bool allows(std::string_view host) const;
  const std::vector<std::string>& names() const noexcept { return names_; }

 private:
  std::vector<std::string> names_;
  bool any_ = false;
};

// A Host header's value, or an origin's host and port: the name (an IPv6 literal keeps its
// brackets) and the port when one is written.
struct HostAndPort {
  std::string_view host;
  std::optional<int> port;
};
// nullopt for a text that is neither "name", "name:port", "[v6]" nor "[v6]:port".
std::optional<HostAndPort> splitHostAndPort(std::string_view text);

// Whether the host names an IPv4 address in dotted form or is a bracketed IPv6 address.
bool isIpLiteral(std::string_view host);

// Lets a request to the API through only when it comes from where it may, else raises
// HttpException 403: a Host that names something neither an IP literal, "localhost" nor one of
// the allowed names (code 28005, the message says how to allow the name), or an Origin that is
// present and not the request's own: "http://" or "https://" and the Host's name and port, the
// scheme's default port when none is written (code 28004). A request without Host, and one
// without Origin, is let through as far as that header goes.
void checkRequestOrigin(const RequestHead& head, const AllowedHosts& hosts);

}  // namespace relaydash
