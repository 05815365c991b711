#include "model/account_model.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

class AccountModel : public ::testing::Test {
 protected:
  AccountModel() : db_(open(dir_.file("accounts.sqlite3"))) { exec(db_, kCreateAccountTable); }

  std::vector<Row> rows() const { return getAllRows(db_, "select * from account order by id"); }

  // The error message of a call that must fail with Error.
  template <typename Error, typename Call>
  static std::string failure(Call call) {
    try {
      call();
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  }

  TempDir dir_;
  Db db_;
};

bool isUpperHexOfLength(const std::string& text, std::size_t length) {
  return text.size() == length && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST_F(AccountModel, StoresSaltedHashesAndChecksThemExactly) {
  createAccount(db_, "admin", "quilm");
  createAccount(db_, "operator", "quilm");
  const Account admin = getAccount(db_, "admin");
  const Account other = getAccount(db_, "operator");
  EXPECT_EQ(admin.id, 1);
  EXPECT_EQ(other.id, 2);
  EXPECT_TRUE(isUpperHexOfLength(admin.passwordHash, 32)) << admin.passwordHash;
  EXPECT_TRUE(isUpperHexOfLength(admin.passwordSalt, 24)) << admin.passwordSalt;
  EXPECT_NE(admin.passwordSalt, other.passwordSalt);
  EXPECT_NE(admin.passwordHash, other.passwordHash);
  for (const std::string& wrong : {std::string("Quilm"), std::string("quilm "), std::string(),
                                   std::string("quil"), std::string("quilm\0", 6)}) {
    EXPECT_FALSE(checkAccountPassword(db_, "admin", wrong)) << wrong;
  }
  EXPECT_TRUE(checkAccountPassword(db_, "admin", "quilm"));
}

TEST_F(AccountModel, ComparesTheStoredHashAsExactText) {
  // "quilm" keyed with the salt 00 01 .. 0B, from an independent BLAKE2b.
  const std::string hash = "12D04B315DB9E4243DBC67DBB23DAE17";
  exec(db_, "insert into account(username, password_hash, password_salt) values (?, ?, ?)",
       {"admin", hash, "000102030405060708090A0B"});
  EXPECT_TRUE(checkAccountPassword(db_, "admin", "quilm"));
  for (const std::string& stored : {std::string("12d04b315db9e4243dbc67dbb23dae17"),
                                    hash.substr(0, 31), hash + "0", std::string()}) {
    exec(db_, "update account set password_hash = ? where username = ?", {stored, "admin"});
    EXPECT_FALSE(checkAccountPassword(db_, "admin", "quilm")) << stored;
  }
}

TEST_F(AccountModel, NamesAndPasswordsRoundTripByteForByte) {
  const std::vector<std::string> texts = {"O'Brien",
                                          "'); delete from account; --",
                                          std::string("a\0b", 3),
                                          "a",
                                          "Admin",
                                          "gr\xC3\xBC\xC3\x9F",
                                          "\xFF\xFE",
                                          ""};
  for (const std::string& text : texts)
    createAccount(db_, text, text);
  ASSERT_EQ(rows().size(), texts.size());
  for (const std::string& text : texts) {
    EXPECT_EQ(getAccount(db_, text).username, text);
    EXPECT_TRUE(checkAccountPassword(db_, text, text)) << text;
  }
}

TEST_F(AccountModel, UpdateChecksTheOldPasswordAndRenewsTheSalt) {
  createAccount(db_, "admin", "quilm");
  const Account before = getAccount(db_, "admin");
  const std::vector<Row> stored = rows();
  EXPECT_EQ(failure<HashNotMatchError>([&] { updateAccountPassword(db_, "admin", "Quilm", "x"); }),
            "old password hashes do not match");
  EXPECT_EQ(rows(), stored);

  updateAccountPassword(db_, "admin", "quilm", "n3w 'pass'");
  const Account after = getAccount(db_, "admin");
  EXPECT_NE(after.passwordHash, before.passwordHash);
  EXPECT_NE(after.passwordSalt, before.passwordSalt);
  EXPECT_FALSE(checkAccountPassword(db_, "admin", "quilm"));
  EXPECT_TRUE(checkAccountPassword(db_, "admin", "n3w 'pass'"));
  updateAccountPassword(db_, "admin", "n3w 'pass'", "");
  EXPECT_TRUE(checkAccountPassword(db_, "admin", ""));
}

TEST_F(AccountModel, UnknownUsersAndDuplicateNamesAreErrors) {
  createAccount(db_, "admin", "quilm");
  const std::string notFound = "cannot find user bob";
  EXPECT_EQ(failure<UserNotFoundError>([&] { getAccount(db_, "bob"); }), notFound);
  EXPECT_EQ(failure<UserNotFoundError>([&] { checkAccountPassword(db_, "bob", "x"); }), notFound);
  EXPECT_EQ(failure<UserNotFoundError>([&] { updateAccountPassword(db_, "bob", "x", "y"); }),
            notFound);
  EXPECT_THROW(getAccount(db_, "ADMIN"), UserNotFoundError);

  const std::vector<Row> stored = rows();
  EXPECT_EQ(failure<DbError>([&] { createAccount(db_, "admin", "other"); }),
            "UNIQUE constraint failed: account.username");
  EXPECT_EQ(rows(), stored);
}

}  // namespace
}  // namespace relaydash
