#include "app/start_up.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "model/account_model.hpp"
#include "security/token_seal.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

std::vector<Row> names(Context& ctx) {
  return getAllRows(ctx.database.connection(), "select username from account order by id");
}

TEST(Context, FirstStartMakesTheAdministratorAndLaterStartsKeepTheAccounts) {
  TempDir dir;
  const std::string path = dir.file("relaydash.sqlite3");
  const auto first = newContext("/etc/forwarder.json", "lora-forwarder", path);
  EXPECT_EQ(first->forwarderConfigPath, "/etc/forwarder.json");
  EXPECT_EQ(first->forwarderUnitServiceName, "lora-forwarder");
  EXPECT_TRUE(std::filesystem::exists(path));
  init(*first);
  // The table as other tools read it from the file.
  EXPECT_EQ(getAllRows(first->database.connection(),
                       "select sql from sqlite_master where name = 'account'"),
            (std::vector<Row>{{"CREATE TABLE account (\n"
                               "  id            integer     primary key autoincrement,\n"
                               "  username      varchar(64) not null,\n"
                               "  password_hash varchar(32) not null,\n"
                               "  password_salt varchar(32) not null,\n"
                               "  unique(username)\n"
                               ")"}}));
  EXPECT_EQ(names(*first), (std::vector<Row>{{"admin"}}));
  EXPECT_TRUE(checkAccountPassword(first->database.connection(), "admin", "quilm"));
  updateAccountPassword(first->database.connection(), "admin", "quilm", "changed");

  const auto second = newContext("", "", path);
  init(*second);
  EXPECT_EQ(names(*second), (std::vector<Row>{{"admin"}}));
  EXPECT_TRUE(checkAccountPassword(second->database.connection(), "admin", "changed"));
  // Token keys are never stored: the second start opens none of the first's tokens.
  const std::string token = first->tokenKeys.issue(*newJString("admin"), first->clock.now());
  EXPECT_THROW(second->tokenKeys.open(token, second->clock.now()), InvalidTokenError);
}

TEST(Context, AnyAccountMeansNoAdministratorIsAdded) {
  TempDir dir;
  const auto ctx = newContext("", "", dir.file("relaydash.sqlite3"));
  exec(ctx->database.connection(), kCreateAccountTable);
  createAccount(ctx->database.connection(), "operator", "secret");
  init(*ctx);
  EXPECT_EQ(names(*ctx), (std::vector<Row>{{"operator"}}));
}

TEST(Context, UnusableDatabasesRaiseDbError) {
  TempDir dir;
  const std::string notADatabase = dir.file("forwarder.json");
  std::ofstream(notADatabase) << "{\"gateway_conf\": {\"gateway_ID\": \"AA555A0000000000\"}}\n";
  // Opening does not read the file; the first statement does.
  const auto ctx = newContext("", "", notADatabase);
  for (const auto& [start, message] :
       std::initializer_list<std::pair<std::function<void()>, const char*>>{
           {[&] { newContext("", "", dir.file("missing/relaydash.sqlite3")); },
            "unable to open database file"},
           {[&] { init(*ctx); }, "file is not a database"}}) {
    try {
      start();
      ADD_FAILURE() << "no error: " << message;
    } catch (const DbError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
}

}  // namespace
}  // namespace relaydash
