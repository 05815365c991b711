#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/account_model.hpp"
#include "model/change_counter.hpp"
#include "model/database.hpp"

namespace relaydash {

// Remembers the last account read from one database file for as long as the file stays
// unchanged, so that a sign-in costs one small read of the file's header instead of SQLite's
// locks, journal checks and query. Whether the file changed is told by its change counter
// (change_counter.hpp); a file without one is asked every time.
class AccountCache {
 public:
  AccountCache() = default;
  explicit AccountCache(const std::string& path);

  // The account of that name, as getAccount reads it: raises UserNotFoundError and DbError.
  // The reference stays valid until the next call. The database is opened only when the file
  // has changed.
  const Account& get(Database& database, std::string_view username);

 private:
  ChangeCounter file_;
  std::optional<std::uint32_t> counter_;  // the file's counter when account_ was read
  Account account_{};
};

}  // namespace relaydash
