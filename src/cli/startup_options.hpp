#pragma once

#include <cstdint>
#include <string>

namespace relaydash {

// The five values the command line hands to the main procedure, in the order it takes them.
struct StartupOptions {
  std::string listen;
  std::int32_t port = 0;
  std::string forwarderConfigPath;
  std::string forwarderUnitServiceName;
  std::string dataPath;

  bool operator==(const StartupOptions&) const = default;
};

}  // namespace relaydash
