#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/account_cache.hpp"
#include "model/audit_trail.hpp"
#include "model/database.hpp"
#include "model/metrics_keys.hpp"
#include "runtime/slots.hpp"
#include "security/security_clock.hpp"
#include "security/sign_in_throttle.hpp"
#include "security/token_keys.hpp"
#include "server/request_origin.hpp"

namespace relaydash {

class ConfigChanges;
class StatusReads;
struct TlsSummary;

// What every request shares: the forwarder settings, the account database and the audit rows on
// their way into it, the keys that seal auth tokens and the record of failed sign-ins. One per
// process; the settings are filled at start-up and only read afterwards.
struct Context {
  std::string forwarderConfigPath;
  std::string forwarderUnitServiceName;
  // Used as given: a relative path is relative to the working directory.
  std::string dataPath;
  // Open while in use, closed when idle.
  Database database;
  // The account a sign-in checks, read again only when the database file has changed.
  AccountCache accounts;
  // The file that holds the administrator's initial password, empty for none, and that password
  // while the file holds it (initial_password.hpp).
  std::string initialPasswordFile;
  std::optional<std::string> initialPassword;
  // Rows of the audit trail on their way into the database.
  AuditTrail audit{database};
  // The keys that may read /metrics.
  MetricsKeys metricsKeys{database};
  // Never stored, so that a restart refuses every token issued before it.
  TokenKeys tokenKeys;
  SignInThrottle signIns;
  // The names besides IP literals and "localhost" by which the API may be reached (read at
  // start-up: allowed_hosts.hpp); none when left empty.
  AllowedHosts allowedHosts;
  // What token lifetimes and sign-in failures are measured on.
  SecurityClock clock;
  // The reads that run programs and parse their output (gateway/logs): this many at once, the
  // others wait their turn, so many clients asking at once cost the gateway no more than a few.
  static constexpr std::size_t kGatewayReadsAtOnce = 3;
  Slots gatewayReads{kGatewayReadsAtOnce};
  // For the server's uptime.
  std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
  // Changes of the forwarder's configuration and their history.
  std::shared_ptr<ConfigChanges> configChanges{};
  // What gateway/status reads from the gateway, shared by its callers.
  std::shared_ptr<StatusReads> statusReads{};
  // HTTPS as the server set it up; null when it has not (tests that need none).
  const TlsSummary* tls = nullptr;
};

}  // namespace relaydash
