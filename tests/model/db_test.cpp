#include "model/db.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

using Rows = std::vector<Row>;

TEST(Db, ValuesAreBoundByteForByteAndReadBackAsText) {
  TempDir dir;
  const Db db = open(dir.file("db.sqlite3"));
  exec(db, "create table t (v text unique)");
  const std::vector<std::string> values = {"O'Brien",
                                           "'); drop table t; --",
                                           std::string("nul\0inside", 10),
                                           "gr\xC3\xBC\xC3\x9F",
                                           "\xFF\xFE",
                                           "?",
                                           ""};
  for (const std::string& v : values)
    exec(db, "insert into t (v) values (?)", {v});
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(getAllRows(db, "select rowid, v from t where v = ?", {values[i]}),
              (Rows{{std::to_string(i + 1), values[i]}}));
  }
  EXPECT_EQ(getAllRows(db, "select v from t where v = ?", {"nul"}), Rows{});
  EXPECT_EQ(getAllRows(db, "select 42, null, 1.5 union all select 'x', 'y', 'z'"),
            (Rows{{"42", "", "1.5"}, {"x", "y", "z"}}));
}

TEST(Db, FailuresCarrySqlitesMessageAndChangeNothing) {
  TempDir dir;
  const Db db = open(dir.file("db.sqlite3"));
  exec(db, "create table t (k text unique)");
  exec(db, "insert into t (k) values (?)", {"one"});
  for (const auto& [statement, message] :
       std::initializer_list<std::pair<const char*, const char*>>{
           {"insert into t (k) values (?)", "UNIQUE constraint failed: t.k"},
           {"selec ?", "near \"selec\": syntax error"},
           {"insert into missing values (?)", "no such table: missing"}}) {
    for (const bool query : {false, true}) {
      try {
        query ? (void)getAllRows(db, statement, {"one"}) : exec(db, statement, {"one"});
        ADD_FAILURE() << "no error: " << statement;
      } catch (const DbError& e) {
        EXPECT_STREQ(e.what(), message);
      }
    }
  }
  EXPECT_EQ(getAllRows(db, "select k from t"), (Rows{{"one"}}));
}

// The file holds password hashes.
TEST(Db, ANewFileIsTheOwnersAloneAndAnExistingOneKeepsItsMode) {
  TempDir dir;
  const auto modeOf = [](const std::string& path) {
    struct stat s {};
    EXPECT_EQ(::stat(path.c_str(), &s), 0) << path;
    return s.st_mode & 07777;
  };
  const mode_t saved = ::umask(022);
  const std::string fresh = dir.file("fresh.sqlite3");
  {
    const Db db = open(fresh);
    exec(db, "create table t (k text)");
    exec(db, "insert into t (k) values ('x')");
  }
  const std::string existing = dir.file("existing.sqlite3");
  { const Db made = open(existing); }
  ::chmod(existing.c_str(), 0640);
  { const Db db = open(existing); }
  ::umask(saved);
  EXPECT_EQ(modeOf(fresh), 0600u);
  EXPECT_EQ(modeOf(existing), 0640u);
  EXPECT_EQ(getAllRows(open(fresh), "select k from t"), (Rows{{"x"}}));
}

}  // namespace
}  // namespace relaydash
