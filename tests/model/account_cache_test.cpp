#include "model/account_cache.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

// The cache is only worth having if it never answers with an account the file no longer holds,
// whoever changed it: this connection, or another one as an operator's sqlite3 shell would be.
class AccountCacheTest : public ::testing::TestWithParam<const char*> {
 protected:
  AccountCacheTest() : path_(dir_.file("accounts.sqlite3")), db_(open(path_)), other_(open(path_)) {
    exec(db_, std::string("pragma journal_mode = ") + GetParam());
    exec(db_, kCreateAccountTable);
    createAccount(db_, "admin", "quilm");
    cache_ = AccountCache(path_);
    database_.open(path_);
  }

  bool signsIn(std::string_view username, std::string_view password) {
    return passwordMatches(cache_.get(database_, username), password);
  }

  TempDir dir_;
  std::string path_;
  Db db_;
  Db other_;
  // What the cache reads through when the file has changed.
  Database database_;
  AccountCache cache_;
};

TEST_P(AccountCacheTest, SeesEveryChangeOfTheFile) {
  EXPECT_TRUE(signsIn("admin", "quilm"));
  EXPECT_TRUE(signsIn("admin", "quilm"));
  EXPECT_FALSE(signsIn("admin", "Quilm"));

  // Through this connection, as password/update does.
  updateAccountPassword(db_, "admin", "quilm", "first");
  EXPECT_TRUE(signsIn("admin", "first"));
  EXPECT_FALSE(signsIn("admin", "quilm"));

  // Through another connection to the same file.
  updateAccountPassword(other_, "admin", "first", "second");
  EXPECT_TRUE(signsIn("admin", "second"));
  EXPECT_FALSE(signsIn("admin", "first"));

  // Renamed elsewhere: the old name is gone at once, the new one found.
  exec(other_, "update account set username = 'root'");
  EXPECT_THROW(cache_.get(database_, "admin"), UserNotFoundError);
  EXPECT_TRUE(signsIn("root", "second"));

  // Other names than the remembered one are always looked up.
  createAccount(other_, "operator", "x");
  EXPECT_TRUE(signsIn("operator", "x"));
  EXPECT_TRUE(signsIn("root", "second"));
  EXPECT_THROW(cache_.get(database_, "nobody"), UserNotFoundError);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, AccountCacheTest, ::testing::Values("delete", "wal"));

TEST(AccountCache, WithoutAFileAsksTheDatabaseEveryTime) {
  Database database;
  database.open(":memory:");
  const Db& db = database.connection();
  exec(db, kCreateAccountTable);
  createAccount(db, "admin", "quilm");
  AccountCache cache(":memory:");
  EXPECT_TRUE(passwordMatches(cache.get(database, "admin"), "quilm"));
  updateAccountPassword(db, "admin", "quilm", "new");
  EXPECT_TRUE(passwordMatches(cache.get(database, "admin"), "new"));
}

}  // namespace
}  // namespace relaydash
