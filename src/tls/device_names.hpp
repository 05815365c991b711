#pragma once

#include <string>
#include <vector>

namespace relaydash {

// The names a browser may use for this device, as its own certificate lists them: the host
// name, the host name under .local (mDNS), localhost, then every address of the machine (IPv4
// first, then IPv6 without the link-local ones, which no address bar takes), each once, in
// that order.
std::vector<std::string> deviceNames(const std::string& hostName,
                                     std::vector<std::string> addresses);

// The same for this machine as it is now: its host name and the addresses of its interfaces.
std::vector<std::string> currentDeviceNames();

}  // namespace relaydash
