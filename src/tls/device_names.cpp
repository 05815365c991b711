#include "tls/device_names.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>

namespace relaydash {
namespace {

bool isIpv6(const std::string& address) {
  return address.find(':') != std::string::npos;
}

void addOnce(std::vector<std::string>& names, std::string name) {
  if (name.empty() || std::find(names.begin(), names.end(), name) != names.end()) return;
  names.push_back(std::move(name));
}

}  // namespace

std::vector<std::string> deviceNames(const std::string& hostName,
                                     std::vector<std::string> addresses) {
  std::vector<std::string> names;
  if (!hostName.empty() && hostName != "localhost") {
    addOnce(names, hostName);
    // A host name that already has a domain is not given another.
    if (hostName.find('.') == std::string::npos) addOnce(names, hostName + ".local");
  }
  addOnce(names, "localhost");
  std::stable_sort(addresses.begin(), addresses.end(),
                   [](const std::string& a, const std::string& b) {
                     if (isIpv6(a) != isIpv6(b)) return !isIpv6(a);
                     return a < b;
                   });
  for (std::string& address : addresses)
    addOnce(names, std::move(address));
  return names;
}

std::vector<std::string> currentDeviceNames() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::vector<std::string> addresses;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) == 0) {
    for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
      if (!i->ifa_addr) continue;
      char text[INET6_ADDRSTRLEN] = {};
      if (i->ifa_addr->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
      } else if (i->ifa_addr->sa_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
        if (IN6_IS_ADDR_LINKLOCAL(&in->sin6_addr)) continue;
        ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
      } else {
        continue;
      }
      addresses.emplace_back(text);
    }
    ::freeifaddrs(interfaces);
  }
  return deviceNames(host, std::move(addresses));
}

}  // namespace relaydash
