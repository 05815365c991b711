#include "server/request_origin.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "ascii/ascii.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

using ascii::equalsIgnoreCase;

// A name as compared: lower case, without the final dot a fully qualified name may carry.
std::string comparable(std::string_view name) {
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  std::string out(name);
  std::transform(out.begin(), out.end(), out.begin(), ascii::toLower);
  return out;
}

std::optional<int> portOf(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  int port = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port > 65535) {
    return std::nullopt;
  }
  return port;
}

bool isLocalhost(std::string_view host) {
  return equalsIgnoreCase(host, "localhost") || equalsIgnoreCase(host, "localhost.");
}

[[noreturn]] void refuseHost(std::string_view host) {
  raiseHttpException(
      403, ErrorCode::UnknownHost,
      "This gateway does not answer to the name " + std::string(host) +
          ": use its address, or add the name to RELAYDASH_ALLOWED_HOSTS in "
          "/etc/default/relaydash and restart relaydash (systemctl restart relaydash)");
}

[[noreturn]] void refuseOrigin() {
  raiseHttpException(403, ErrorCode::CrossSiteRequest);
}

// Whether the Origin value names the scheme, host and port the request was sent to.
bool isOwnOrigin(std::string_view origin, std::string_view hostHeader) {
  int defaultPort = 0;
  if (origin.size() > 7 && equalsIgnoreCase(origin.substr(0, 7), "http://")) {
    origin.remove_prefix(7);
    defaultPort = 80;
  } else if (origin.size() > 8 && equalsIgnoreCase(origin.substr(0, 8), "https://")) {
    origin.remove_prefix(8);
    defaultPort = 443;
  } else {
    return false;  // "null", another scheme, or no origin at all
  }
  const std::optional<HostAndPort> from = splitHostAndPort(origin);
  const std::optional<HostAndPort> to = splitHostAndPort(hostHeader);
  if (!from || !to || from->host.empty()) return false;
  return equalsIgnoreCase(from->host, to->host) &&
         from->port.value_or(defaultPort) == to->port.value_or(defaultPort);
}

}  // namespace

void AllowedHosts::add(std::string_view name) {
  if (name.empty()) return;
  if (name == "*") {
    any_ = true;
    return;
  }
  std::string entry = comparable(name);
  if (std::find(names_.begin(), names_.end(), entry) == names_.end()) {
    names_.push_back(std::move(entry));
  }
}

void AllowedHosts::addList(std::string_view list) {
  constexpr std::string_view kSeparators = " \t\r\n,";
  std::size_t i = 0;
  while (i < list.size()) {
    i = list.find_first_not_of(kSeparators, i);
    if (i == std::string_view::npos) break;
    const std::size_t end = std::min(list.find_first_of(kSeparators, i), list.size());
    add(list.substr(i, end - i));
    i = end;
  }
}

bool AllowedHosts::allows(std::string_view host) const {
  if (isIpLiteral(host) || isLocalhost(host)) return true;
  if (any_) return true;
  if (host.empty()) return false;
  const std::string wanted = comparable(host);
  return std::find(names_.begin(), names_.end(), wanted) != names_.end();
}

std::optional<HostAndPort> splitHostAndPort(std::string_view text) {
  HostAndPort out;
  std::string_view rest;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = text.substr(0, close + 1);
    rest = text.substr(close + 1);
  } else {
    const std::size_t colon = text.find(':');
    out.host = text.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':') return std::nullopt;
    out.port = portOf(rest.substr(1));
    if (!out.port) return std::nullopt;
  }
  return out;
}

bool isIpLiteral(std::string_view host) {
  std::array<unsigned char, 16> address{};
  std::array<char, 64> text{};
  int family = AF_INET;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    family = AF_INET6;
  }
  if (host.empty() || host.size() >= text.size()) return false;
  std::copy(host.begin(), host.end(), text.begin());
  return ::inet_pton(family, text.data(), address.data()) == 1;
}

void checkRequestOrigin(const RequestHead& head, const AllowedHosts& hosts) {
  const std::vector<std::string>* host = head.headers.find("host");
  if (host && (host->size() != 1 || !host->front().empty())) {
    const std::optional<HostAndPort> named =
        host->size() == 1 ? splitHostAndPort(host->front()) : std::nullopt;
    if (!named) refuseHost(host->front());
    if (!hosts.allows(named->host)) refuseHost(named->host);
  }
  if (const std::vector<std::string>* origin = head.headers.find("origin")) {
    if (origin->size() != 1 || !host || host->front().empty() ||
        !isOwnOrigin(origin->front(), host->front())) {
      refuseOrigin();
    }
  }
}

}  // namespace relaydash
