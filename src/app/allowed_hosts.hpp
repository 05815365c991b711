#pragma once

#include <string_view>

#include "server/request_origin.hpp"

namespace relaydash {

// The variable of the server's environment that lists more names the API answers to (spaces or
// commas between them; "*" for any name).
inline constexpr const char* kAllowedHostsVariable = "RELAYDASH_ALLOWED_HOSTS";

// The names this machine answers to: its host name as the kernel has it and its first label,
// that label with ".local" (mDNS) and with each domain that resolv.conf's "domain" and "search"
// lines name; then the operator's list.
AllowedHosts allowedHosts(std::string_view hostName, std::string_view resolvConf,
                          std::string_view operatorList);

// The same for this machine, read once at start-up: gethostname(), /etc/resolv.conf and the
// variable. Nothing here waits for the network.
AllowedHosts allowedHostsAtStart();

}  // namespace relaydash
