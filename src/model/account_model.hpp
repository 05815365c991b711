#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/db.hpp"

namespace relaydash {

// "cannot find user " and the name.
class UserNotFoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "old password hashes do not match".
class HashNotMatchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One row of the account table. The hash is the 16-byte keyed BLAKE2b of the password, the salt
// its 12-byte key, both as upper-case hex.
struct Account {
  std::int64_t id;
  std::string username;
  std::string passwordHash;
  std::string passwordSalt;
};

// Creates the account table when it does not exist.
inline constexpr std::string_view kCreateAccountTable =
    "create table if not exists account (\n"
    "  id            integer     primary key autoincrement,\n"
    "  username      varchar(64) not null,\n"
    "  password_hash varchar(32) not null,\n"
    "  password_salt varchar(32) not null,\n"
    "  unique(username)\n"
    ")\n";

// User names and passwords are raw bytes: no trimming, no normalisation, no length limit.
// Database failures raise DbError, among them a second account of the same name.

void createAccount(const Db& db, std::string_view username, std::string_view password);

// Raises UserNotFoundError when there is no such account.
Account getAccount(const Db& db, std::string_view username);

// Whether password is the account's, compared in constant time.
bool passwordMatches(const Account& account, std::string_view password);

// Whether password is the account's; raises UserNotFoundError when there is no such account.
bool checkAccountPassword(const Db& db, std::string_view username, std::string_view password);

// Sets a new password, with a new salt, once the old one checks; raises HashNotMatchError (and
// writes nothing) when it does not, and UserNotFoundError when there is no such account.
void updateAccountPassword(const Db& db, std::string_view username, std::string_view oldPassword,
                           std::string_view newPassword);

}  // namespace relaydash
