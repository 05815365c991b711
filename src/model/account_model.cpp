#include "model/account_model.hpp"

#include <charconv>

#include "crypto/blake2.hpp"
#include "crypto/buffer.hpp"
#include "crypto/constant_time.hpp"

namespace relaydash {
namespace {

struct PasswordHash {
  std::string hash;
  std::string salt;
};

PasswordHash hashPassword(std::string_view password) {
  const Buffer salt = genBlake2bSalt();
  return {hex(blake2b(newBuffer(password), salt)), hex(salt)};
}

}  // namespace

void createAccount(const Db& db, std::string_view username, std::string_view password) {
  const PasswordHash stored = hashPassword(password);
  exec(db, "insert into account(username, password_hash, password_salt) values (?, ?, ?)",
       {username, stored.hash, stored.salt});
}

Account getAccount(const Db& db, std::string_view username) {
  const std::vector<Row> rows = getAllRows(
      db, "select id, username, password_hash, password_salt from account where username = ?",
      {username});
  if (rows.empty()) throw UserNotFoundError("cannot find user " + std::string(username));
  const Row& row = rows.front();
  Account account{0, row[1], row[2], row[3]};
  const std::string& id = row[0];
  const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), account.id);
  if (error != std::errc() || end != id.data() + id.size()) {
    throw DbError("invalid account id: " + id);
  }
  return account;
}

bool passwordMatches(const Account& account, std::string_view password) {
  const std::string hash = hex(blake2b(newBuffer(password), newBufferHex(account.passwordSalt)));
  // Compared in constant time, so that the answer's timing says nothing about how much of a
  // guessed hash was right.
  return constantTimeEquals(hash, account.passwordHash);
}

bool checkAccountPassword(const Db& db, std::string_view username, std::string_view password) {
  return passwordMatches(getAccount(db, username), password);
}

void updateAccountPassword(const Db& db, std::string_view username, std::string_view oldPassword,
                           std::string_view newPassword) {
  if (!checkAccountPassword(db, username, oldPassword)) {
    throw HashNotMatchError("old password hashes do not match");
  }
  const PasswordHash stored = hashPassword(newPassword);
  exec(db, "update account set password_hash = ?, password_salt = ? where username = ?",
       {stored.hash, stored.salt, username});
}

}  // namespace relaydash
