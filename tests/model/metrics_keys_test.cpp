#include "model/metrics_keys.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "crypto/blake2.hpp"
#include "crypto/buffer.hpp"
#include "model/metrics_key_name.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kT0 = 1'796'000'000 * kSecond;

using Kind = MetricsKeyError::Kind;

std::optional<Kind> refusal(const auto& change) {
  try {
    change();
  } catch (const MetricsKeyError& e) {
    return e.kind();
  }
  return std::nullopt;
}

// A key of the right form that was never made.
std::string otherKey(const std::string& key) {
  std::string other = key;
  other.back() = other.back() == 'A' ? 'B' : 'A';
  return other;
}

// Two servers over one file, as after a restart or beside an operator's script, each with its
// own database connection; the file in the journal mode of the parameter.
class MetricsKeysTest : public ::testing::TestWithParam<const char*> {
 protected:
  MetricsKeysTest() : path_(dir_.file("relaydash.sqlite3")) {
    exec(open(path_), std::string("pragma journal_mode = ") + GetParam());
    database_.open(path_);
    otherDatabase_.open(path_);
  }

  TempDir dir_;
  std::string path_;
  Database database_;
  Database otherDatabase_;
  MetricsKeys keys_{database_};
  MetricsKeys other_{otherDatabase_};
};

TEST_P(MetricsKeysTest, AKeyIsAcceptedUntilItIsRevokedWhoeverRevokesIt) {
  const NewMetricsKey made = keys_.create("  prometheus\t", kT0);
  EXPECT_EQ(made.name, "prometheus");
  EXPECT_EQ(made.createdAt, kT0);
  EXPECT_TRUE(std::regex_match(made.key, std::regex("rdm_[A-Za-z0-9_-]{43}"))) << made.key;
  EXPECT_NE(keys_.create("grafana", kT0).key, made.key);

  EXPECT_TRUE(keys_.accepts(made.key, kT0 + kSecond));
  EXPECT_TRUE(other_.accepts(made.key, kT0 + kSecond));
  for (const std::string& wrong :
       {otherKey(made.key), made.key.substr(1), made.key + "A", "Rdm_" + made.key.substr(4),
        std::string(), std::string("Bearer ") + made.key}) {
    EXPECT_FALSE(keys_.accepts(wrong, kT0)) << wrong;
  }

  // Revoked by the other server: refused here at the next scrape.
  EXPECT_EQ(other_.revoke(made.id, kT0 + 2 * kSecond), "prometheus");
  EXPECT_FALSE(keys_.accepts(made.key, kT0 + 3 * kSecond));
  EXPECT_FALSE(other_.accepts(made.key, kT0 + 3 * kSecond));
  EXPECT_EQ(refusal([&] { keys_.revoke(made.id, kT0); }), Kind::UnknownId);
  EXPECT_EQ(refusal([&] { keys_.revoke(999, kT0); }), Kind::UnknownId);

  // Made by the other server, and revoked behind both servers' backs (an operator's shell).
  const NewMetricsKey later = other_.create("prometheus", kT0 + 4 * kSecond);
  EXPECT_TRUE(keys_.accepts(later.key, kT0 + 5 * kSecond));
  exec(open(path_), "update metrics_key set revoked_at = 1 where id = ?",
       {std::to_string(later.id)});
  EXPECT_FALSE(keys_.accepts(later.key, kT0 + 6 * kSecond));

  const std::vector<MetricsKeyRow> rows = keys_.list();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "prometheus");
  EXPECT_EQ(rows[0].revokedAt, kT0 + 2 * kSecond);
  EXPECT_EQ(rows[0].lastUsedAt, kT0 + kSecond);
  EXPECT_EQ(rows[1].name, "grafana");
  EXPECT_EQ(rows[1].revokedAt, std::nullopt);
  EXPECT_EQ(rows[1].lastUsedAt, std::nullopt);
  EXPECT_EQ(rows[2].revokedAt, 1);
}

TEST_P(MetricsKeysTest, TheFileHoldsTheHashAloneAndKeepsTheKeysForTheNextStart) {
  const NewMetricsKey made = keys_.create("prometheus", kT0);
  keys_.accepts(made.key, kT0 + kSecond);
  database_.close();
  otherDatabase_.close();

  const std::vector<Row> stored =
      getAllRows(open(path_), "select name, key_hash, created_at from metrics_key");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0][1], hex(blake2b(newBuffer(made.key))));
  EXPECT_EQ(stored[0][2], std::to_string(kT0));
  std::string bytes;
  for (const char* file : {"relaydash.sqlite3", "relaydash.sqlite3-wal"}) {
    std::ifstream in(dir_.file(file), std::ios::binary);
    bytes.append(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(bytes.find("prometheus"), std::string::npos);
  EXPECT_EQ(bytes.find(made.key.substr(4)), std::string::npos);

  Database reopened;
  reopened.open(path_);
  MetricsKeys restarted(reopened);
  EXPECT_TRUE(restarted.accepts(made.key, kT0 + 2 * kSecond));
  EXPECT_EQ(restarted.list().at(0).lastUsedAt, kT0 + 2 * kSecond);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, MetricsKeysTest, ::testing::Values("delete", "wal"));

TEST(MetricsKeys, AScrapeOfAnUnchangedFileOpensNoDatabaseAndWritesItsLastUseSeldom) {
  TempDir dir;
  Database database;
  database.open(dir.file("relaydash.sqlite3"));
  MetricsKeys keys(database);
  const NewMetricsKey made = keys.create("prometheus", kT0);
  const std::int64_t every =
      std::chrono::duration_cast<std::chrono::microseconds>(MetricsKeys::kLastUseWrittenEvery)
          .count();

  // The first use is written at once.
  EXPECT_TRUE(keys.accepts(made.key, kT0 + kSecond));
  database.close();
  EXPECT_TRUE(keys.accepts(made.key, kT0 + 2 * kSecond));
  EXPECT_FALSE(keys.accepts(otherKey(made.key), kT0 + 2 * kSecond));
  EXPECT_TRUE(keys.accepts(made.key, kT0 + kSecond + every - 1));
  EXPECT_FALSE(database.isOpen());
  // This object knows the last use all the same; the file has the one written.
  EXPECT_EQ(keys.list().at(0).lastUsedAt, kT0 + kSecond + every - 1);
  EXPECT_EQ(getAllRows(database.connection(), "select last_used_at from metrics_key"),
            std::vector<Row>{{std::to_string(kT0 + kSecond)}});
  database.close();

  EXPECT_TRUE(keys.accepts(made.key, kT0 + kSecond + every));
  EXPECT_EQ(getAllRows(database.connection(), "select last_used_at from metrics_key"),
            std::vector<Row>{{std::to_string(kT0 + kSecond + every)}});
  // Its own write did not make it read the file again at the next scrape.
  database.close();
  EXPECT_TRUE(keys.accepts(made.key, kT0 + 2 * kSecond + every));
  EXPECT_FALSE(database.isOpen());
}

// A backup put in place of the file (moved over it, a new file with a counter of its own) is
// read at the next scrape, whatever its counter says.
TEST(MetricsKeys, AFileMovedOverTheDatabaseIsReadAgain) {
  TempDir dir;
  const std::string path = dir.file("relaydash.sqlite3");
  Database database;
  database.open(path);
  MetricsKeys keys(database);
  const NewMetricsKey made = keys.create("prometheus", kT0);
  EXPECT_TRUE(keys.accepts(made.key, kT0));
  database.close();
  std::filesystem::copy_file(path, dir.file("backup"));
  exec(open(dir.file("backup")), "update metrics_key set revoked_at = 1");
  std::filesystem::rename(dir.file("backup"), path);
  EXPECT_FALSE(keys.accepts(made.key, kT0 + kSecond));
}

TEST(MetricsKeys, NamesAreTrimmedTextUniqueAmongTheKeysInUse) {
  struct Case {
    std::string text;
    std::optional<std::string> kept;
  };
  const std::vector<Case> cases = {
      {"prometheus", "prometheus"},
      {" \tgrafana agent  ", "grafana agent"},
      {"Prüfstand – Halle 3", "Prüfstand – Halle 3"},
      {std::string(64, 'n'), std::string(64, 'n')},
      {"  " + std::string(64, 'n') + "  ", std::string(64, 'n')},
      {std::string(65, 'n'), std::nullopt},
      {std::string(21, 'n') + std::string(15, '\0') + "\u00e9", std::nullopt},
      {"", std::nullopt},
      {"   \t ", std::nullopt},
      {"two\nlines", std::nullopt},
      {"tab\tinside", std::nullopt},
      {"\x7f", std::nullopt},
      {"c1 \xc2\x85", std::nullopt},
      {"bad \xff utf-8", std::nullopt},
      {"overlong \xc0\xaf", std::nullopt},
      {"surrogate \xed\xa0\x80", std::nullopt},
      {"cut \xe2\x80", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(metricsKeyName(c.text), c.kept) << c.text;

  TempDir dir;
  Database database;
  database.open(dir.file("relaydash.sqlite3"));
  MetricsKeys keys(database);
  EXPECT_EQ(refusal([&] { keys.create(" ", kT0); }), Kind::BadName);
  const NewMetricsKey first = keys.create("prometheus", kT0);
  EXPECT_EQ(refusal([&] { keys.create(" prometheus ", kT0); }), Kind::DuplicateName);
  // A revoked key's name is free again.
  keys.revoke(first.id, kT0);
  const NewMetricsKey second = keys.create("prometheus", kT0);
  EXPECT_FALSE(keys.accepts(first.key, kT0));
  EXPECT_TRUE(keys.accepts(second.key, kT0));
}

TEST(MetricsKeys, AtMostSoManyKeysAreInUse) {
  TempDir dir;
  Database database;
  database.open(dir.file("relaydash.sqlite3"));
  MetricsKeys keys(database);
  std::vector<NewMetricsKey> made;
  for (std::size_t i = 0; i < MetricsKeys::kMaxValid; ++i)
    made.push_back(keys.create("key " + std::to_string(i), kT0));
  EXPECT_EQ(refusal([&] { keys.create("one more", kT0); }), Kind::TooMany);
  keys.revoke(made.front().id, kT0);
  const NewMetricsKey more = keys.create("one more", kT0);
  for (std::size_t i = 1; i < made.size(); ++i)
    EXPECT_TRUE(keys.accepts(made[i].key, kT0)) << i;
  EXPECT_TRUE(keys.accepts(more.key, kT0));
  EXPECT_EQ(keys.list().size(), MetricsKeys::kMaxValid + 1);
}

}  // namespace
}  // namespace relaydash
