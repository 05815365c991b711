#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "crypto/buffer.hpp"
#include "model/db.hpp"

namespace relaydash {

class ConfigChanges;

// The administrator, whom start-up creates with the factory password.
inline constexpr std::string_view kAdminName = "admin";
inline constexpr std::string_view kAdminInitialPassword = "quilm";

// What every request shares: the forwarder settings, the account database and the key that seals
// auth tokens. One per process, filled at start-up and only read afterwards.
struct Context {
  std::string forwarderConfigPath;
  std::string forwarderUnitServiceName;
  // Used as given: a relative path is relative to the working directory.
  std::string dataPath;
  // 32-byte ChaCha20-Poly1305 key, new at every start and never stored, so that a restart
  // refuses every token issued before it.
  Buffer secret;
  Db db;
  // For the server's uptime.
  std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
  // Changes of the forwarder's configuration and their history; made when first needed
  // (configChanges() in config_routes.cpp).
  std::shared_ptr<ConfigChanges> configChanges{};
};

// Makes the token key and opens (creating if need be) the database at dataPath; raises DbError
// when it cannot be opened.
std::shared_ptr<Context> newContext(std::string forwarderConfigPath,
                                    std::string forwarderUnitServiceName, std::string dataPath);

// Creates the account table when it is missing, and the account "admin" with the password
// "quilm" when the table holds no account at all. Raises DbError when a statement fails, as on a
// file that is not a database.
void init(const Context& ctx);

}  // namespace relaydash
