#include "model/database.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "runtime/event_loop.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;

bool sqliteMapped() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find("libsqlite3") != std::string::npos) return true;
  }
  return false;
}

// What the connection is closed for: an idle gateway keeps none of SQLite in memory. Each use
// moves the closing; the next use after it finds the same file.
TEST(Database, ClosesAndUnloadsSqliteWhenIdleAndReopensOnUse) {
  TempDir dir;
  EventLoop loop;
  Database database(60ms);
  database.open(dir.file("db.sqlite3"));
  exec(database.connection(), "create table t (v text)");
  ASSERT_TRUE(sqliteMapped());
  for (int i = 0; i < 3; ++i) {
    loop.runFor(40ms);
    exec(database.connection(), "insert into t (v) values (?)", {std::to_string(i)});
  }
  EXPECT_TRUE(database.isOpen());
  loop.runFor(150ms);
  EXPECT_FALSE(database.isOpen());
  EXPECT_FALSE(sqliteMapped());

  EXPECT_EQ(getAllRows(database.connection(), "select v from t"),
            (std::vector<Row>{{"0"}, {"1"}, {"2"}}));
  loop.runFor(150ms);
  EXPECT_FALSE(database.isOpen());
}

TEST(Database, AFileThatCannotBeOpenedAgainRaisesDbErrorOnUse) {
  TempDir dir;
  Database database;
  database.open(dir.file("db.sqlite3"));
  database.close();
  std::filesystem::remove_all(dir.path());
  EXPECT_THROW(database.connection(), DbError);
}

}  // namespace
}  // namespace relaydash
