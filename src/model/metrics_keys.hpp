#pragma once

#include <string_view>

#include "model/database.hpp"

namespace relaydash {

// The keys that may read /metrics: long-lived and read-only, each named by the operator, kept in
// the account database as hashes only.
class MetricsKeys {
 public:
  explicit MetricsKeys(Database& database) : database_(&database) {}

  // Whether `key` is a key that was created and is not revoked.
  bool accepts(std::string_view key);

 private:
  Database* database_;
};

}  // namespace relaydash
