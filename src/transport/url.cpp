#include "transport/url.hpp"

#include "ascii/ascii.hpp"
#include "transport/store_text.hpp"

namespace relaydash {
namespace {

bool isSchemeChar(char c) noexcept {
  return ascii::isAlnum(c) || c == '+' || c == '-' || c == '.';
}

// The scheme's length when the text starts with "scheme:", else 0.
std::size_t schemeLength(std::string_view s) noexcept {
  if (s.empty() || !ascii::isAlpha(s[0])) return 0;
  std::size_t i = 1;
  while (i < s.size() && isSchemeChar(s[i]))
    ++i;
  return i < s.size() && s[i] == ':' ? i : 0;
}

void parseAuthority(std::string_view authority, Url& url) {
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userinfo = authority.substr(0, at);
    const auto colon = userinfo.find(':');
    url.username.assign(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) url.password.assign(userinfo.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  if (!authority.empty() && authority[0] == '[') {
    const auto close = authority.find(']');
    url.isIpv6 = true;
    url.hostname.assign(authority.substr(1, close == std::string_view::npos ? close : close - 1));
    authority = close == std::string_view::npos ? std::string_view() : authority.substr(close + 1);
    if (!authority.empty() && authority[0] == ':') url.port.assign(authority.substr(1));
    return;
  }
  const auto colon = authority.find(':');
  url.hostname.assign(authority.substr(0, colon));
  if (colon != std::string_view::npos) url.port.assign(authority.substr(colon + 1));
}

}  // namespace

void parseUrl(std::string_view target, Url& url) {
  url.scheme.clear();
  url.username.clear();
  url.password.clear();
  url.hostname.clear();
  url.port.clear();
  url.query.clear();
  url.anchor.clear();
  url.opaque = false;
  url.isIpv6 = false;

  if (const auto hash = target.find('#'); hash != std::string_view::npos) {
    url.anchor.assign(target.substr(hash + 1));
    target = target.substr(0, hash);
  }
  if (const auto question = target.find('?'); question != std::string_view::npos) {
    url.query.assign(target.substr(question + 1));
    target = target.substr(0, question);
  }
  // A target that starts with "/" is a path (the origin form of requests), even when it
  // starts with "//": a request for //a/b names the path //a/b, not the host a.
  if (!target.empty() && target[0] == '/') {
    storeText(url.path, target);
    return;
  }
  if (const std::size_t n = schemeLength(target); n > 0) {
    url.scheme.assign(target.substr(0, n));
    target.remove_prefix(n + 1);
    url.opaque = !target.starts_with("//");
  }
  if (target.starts_with("//")) {
    target.remove_prefix(2);
    const auto slash = target.find('/');
    parseAuthority(target.substr(0, slash), url);
    target = slash == std::string_view::npos ? std::string_view() : target.substr(slash);
  }
  storeText(url.path, target);
}

}  // namespace relaydash
