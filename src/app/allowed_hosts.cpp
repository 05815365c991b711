#include "app/allowed_hosts.hpp"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include "gateway/text_file.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

// resolv.conf's resolver reads at most six search domains; so do we.
constexpr std::size_t kMaxDomains = 6;

std::vector<std::string_view> domainsOf(std::string_view resolvConf) {
  std::vector<std::string_view> domains;
  constexpr std::string_view kBlank = " \t\r";
  std::size_t lineStart = 0;
  while (lineStart < resolvConf.size() && domains.size() < kMaxDomains) {
    const std::size_t lineEnd = std::min(resolvConf.find('\n', lineStart), resolvConf.size());
    std::string_view line = resolvConf.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while ((i = line.find_first_not_of(kBlank, i)) != std::string_view::npos) {
      const std::size_t end = std::min(line.find_first_of(kBlank, i), line.size());
      words.push_back(line.substr(i, end - i));
      i = end;
    }
    if (words.empty() || (words[0] != "domain" && words[0] != "search")) continue;
    for (std::size_t w = 1; w < words.size() && domains.size() < kMaxDomains; ++w) {
      if (words[w].front() == '#' || words[w].front() == ';') break;
      if (words[w] != ".") domains.push_back(words[w]);
    }
  }
  return domains;
}

// Without iostreams: they would bring the C++ library's locales into the program, over a
// megabyte more of it resident on the gateway. A resolver without the file has no domains.
std::string readResolvConf() {
  try {
    return readTextFile("/etc/resolv.conf");
  } catch (const OSError&) {
    return "";
  }
}

}  // namespace

AllowedHosts allowedHosts(std::string_view hostName, std::string_view resolvConf,
                          std::string_view operatorList) {
  AllowedHosts hosts;
  if (!hostName.empty()) {
    const std::string_view label = hostName.substr(0, hostName.find('.'));
    hosts.add(hostName);
    hosts.add(label);
    if (!label.empty()) {
      hosts.add(std::string(label) + ".local");
      for (const std::string_view domain : domainsOf(resolvConf)) {
        std::string name(label);
        name += '.';
        name += domain;
        hosts.add(name);
      }
    }
  }
  hosts.addList(operatorList);
  return hosts;
}

AllowedHosts allowedHostsAtStart() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) name[0] = '\0';
  const char* list = std::getenv(kAllowedHostsVariable);
  return allowedHosts(name.data(), readResolvConf(), list ? list : "");
}

}  // namespace relaydash
