#include "gateway/config_history.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gateway/atomic_file.hpp"
#include "gateway/text_file.hpp"
#include "gateway/time_text.hpp"
#include "json/parser.hpp"
#include "runtime/os_error.hpp"
#include "support/killed_while_writing.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;

const ChangeAuthor kAdmin{"admin", "192.168.1.20", "forwarder-config/apply"};

// The names in the history folder, sorted.
std::vector<std::string> names(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(dir.file("history")))
    out.push_back(entry.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

// The temporary files of versions among them, each cut after the mark that tells whose it is
// (what follows is mkstemp's choice).
std::vector<std::string> temporaryFiles(const TempDir& dir) {
  std::vector<std::string> out;
  for (const std::string& name : names(dir)) {
    if (temporaryFileTarget(name, true).rfind("version-", 0) != 0) continue;
    const std::size_t mark = name.find(".relaydash-");
    out.push_back(mark == std::string::npos ? name : name.substr(0, mark + 11));
  }
  return out;
}

std::vector<int> numbers(const std::vector<ConfigVersion>& versions) {
  std::vector<int> out;
  for (const ConfigVersion& v : versions)
    out.push_back(v.number);
  return out;
}

TEST(ConfigHistory, KeepsExactBytesWithWhoWhenAndHow) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  EXPECT_TRUE(history.list().empty());  // no folder yet

  const std::string commented = "{\n  /* gateway */ \"a\": 1 // one\n}\n";
  const std::string binary("\0\xff\n{}\r\n", 7);
  EXPECT_EQ(history.save(commented, kAdmin).number, 1);
  const ConfigVersion second = history.save(binary, {"", "10.0.0.1", "forwarder-config/patch"});
  EXPECT_EQ(second.number, 2);
  EXPECT_EQ(second.size, 7u);
  EXPECT_EQ(second.time.size(), std::string("2026-12-09T01:02:03.456Z").size());

  EXPECT_EQ(numbers(history.list()), (std::vector<int>{2, 1}));
  const std::optional<StoredVersion> first = history.read(1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bytes, commented);
  EXPECT_EQ(first->version.author.user, "admin");
  EXPECT_EQ(first->version.author.peer, "192.168.1.20");
  EXPECT_EQ(first->version.author.procedure, "forwarder-config/apply");
  EXPECT_EQ(history.read(2)->bytes, binary);
  EXPECT_EQ(history.read(3), std::nullopt);
  EXPECT_EQ(history.read(0), std::nullopt);
  EXPECT_EQ(history.read(-1), std::nullopt);
}

TEST(ConfigHistory, FiftyOneSavesKeepTheNewestFifty) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  for (int i = 1; i <= 51; ++i)
    history.save("version " + std::to_string(i), kAdmin);
  const std::vector<ConfigVersion> versions = history.list();
  ASSERT_EQ(versions.size(), ConfigHistory::kKept);
  EXPECT_EQ(versions.front().number, 51);
  EXPECT_EQ(versions.back().number, 2);
  EXPECT_EQ(history.read(1), std::nullopt);
  EXPECT_EQ(history.read(2)->bytes, "version 2");
  // Numbers go on from the newest.
  EXPECT_EQ(history.save("52", kAdmin).number, 52);
}

TEST(ConfigHistory, WhatACrashLeavesIsSkippedAndTidiedAway) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  history.save("one", kAdmin);
  // A save that was killed, the temporary file of an earlier build's, a version cut short, and
  // an operator's files, one of them named like an earlier build's temporary file.
  ASSERT_TRUE(killedWhileWriting([&] { history.save(std::string(100, ' '), kAdmin); }));
  std::ofstream(dir.file("history/.version-000002.Ab3dE9")) << "{\"version\":2";
  std::ofstream(dir.file("history/version-000003")) << "{\"version\":3,\"size\":100}\nshort";
  std::ofstream(dir.file("history/notes.txt")) << "mine";
  std::ofstream(dir.file("history/.notes.backup")) << "mine";
  const std::vector<std::string> operators{".notes.backup", "notes.txt"};
  EXPECT_EQ(numbers(history.list()), std::vector<int>{1});
  EXPECT_EQ(history.read(2), std::nullopt);
  EXPECT_EQ(history.read(3), std::nullopt);
  ASSERT_EQ(temporaryFiles(dir),
            (std::vector<std::string>{".version-000002.Ab3dE9", ".version-000002.relaydash-"}));

  EXPECT_EQ(history.save("four", kAdmin).number, 4);
  EXPECT_EQ(temporaryFiles(dir), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(dir.file("history/notes.txt")));
  EXPECT_TRUE(fs::exists(dir.file("history/.notes.backup")));
  history.remove(4);
  EXPECT_EQ(numbers(history.list()), std::vector<int>{1});
}

// At start-up, before any save: the leftovers go, every version and the operator's files stay.
TEST(ConfigHistory, RemoveLeftoversTakesOnlyTemporaryFilesOfVersions) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  EXPECT_EQ(history.removeLeftovers(), std::vector<std::string>{});  // no folder yet
  history.save("one", kAdmin);
  ASSERT_TRUE(killedWhileWriting([&] { history.save(std::string(100, ' '), kAdmin); }));
  for (const char* name : {".version-000007.Ab3dE9", ".notes.backup", ".global_conf.json.Ab3dE9",
                           ".global_conf.json.relaydash-Ab3dE9", "notes.txt"})
    std::ofstream(dir.file(std::string("history/") + name)) << "x";
  fs::create_directory(dir.file("history/.version-000008.Ab3dE9"));
  EXPECT_EQ(history.removeLeftovers(), std::vector<std::string>{});
  EXPECT_EQ(names(dir),
            (std::vector<std::string>{".global_conf.json.Ab3dE9",
                                      ".global_conf.json.relaydash-Ab3dE9", ".notes.backup",
                                      ".version-000008.Ab3dE9", "notes.txt", "version-000001"}));
  EXPECT_EQ(history.read(1)->bytes, "one");

  // A folder that cannot be read is said, not raised.
  fs::remove_all(dir.file("history"));
  std::ofstream(dir.file("history")) << "in the way";
  const std::vector<std::string> problems = history.removeLeftovers();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find(dir.file("history") + " could not be searched"), std::string::npos)
      << problems[0];
}

std::int64_t nowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

TEST(ConfigHistory, KeepsWhatEachVersionIsAndHowItEnded) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  const std::int64_t anHourAgo = nowMicroseconds() - 3'600'000'000;
  VersionFacts before;
  before.ranSince = anHourAgo;
  before.ranWell = false;
  before.restores = 7;
  VersionFacts rejected;
  rejected.kind = "rejected";
  rejected.reason = "the forwarder stopped: exit code 1";
  rejected.changed = {"gateway_conf.server_address", "SX130x_conf.radio_0.freq"};
  const ConfigVersion saved = history.save("{}", kAdmin, before);
  history.save("{\"x\": 1}", {"admin", "", "forwarder-config/apply (rolled back)"}, rejected);
  history.save("{}", kAdmin);

  // As save answers it, as list reads it, as read reads it.
  ASSERT_TRUE(saved.ranSeconds);
  EXPECT_GE(*saved.ranSeconds, 3600);
  EXPECT_LT(*saved.ranSeconds, 3600 + 600);  // the same hour, however slow the machine
  const std::vector<ConfigVersion> listed = history.list();
  ASSERT_EQ(numbers(listed), (std::vector<int>{3, 2, 1}));
  for (const ConfigVersion& first : {listed[2], history.read(1)->version}) {
    EXPECT_EQ(first.facts.kind, "before");
    EXPECT_EQ(first.facts.reason, "");
    EXPECT_EQ(first.facts.changed, std::vector<std::string>{});
    EXPECT_EQ(first.facts.ranSince, anHourAgo);
    EXPECT_EQ(first.ranSeconds, saved.ranSeconds);
    EXPECT_EQ(first.facts.ranWell, false);  // known to have run badly, not unknown
    EXPECT_EQ(first.facts.restores, 7);
  }
  const ConfigVersion second = history.read(2)->version;
  EXPECT_EQ(second.facts.kind, "rejected");
  EXPECT_EQ(second.facts.reason, rejected.reason);
  EXPECT_EQ(second.facts.changed, rejected.changed);
  EXPECT_EQ(second.facts.ranSince, std::nullopt);
  EXPECT_EQ(second.ranSeconds, std::nullopt);
  EXPECT_EQ(second.facts.ranWell, std::nullopt);
  EXPECT_EQ(second.facts.restores, std::nullopt);
  EXPECT_EQ(history.read(2)->bytes, "{\"x\": 1}");
  // Saved without facts: the file before a change, nothing more known.
  const ConfigVersion third = listed[0];
  EXPECT_EQ(third.facts.kind, "before");
  EXPECT_EQ(third.facts.ranWell, std::nullopt);
  EXPECT_EQ(third.ranSeconds, std::nullopt);
}

// Earlier builds wrote the header without the facts, and read only the members they knew.
TEST(ConfigHistory, VersionsOfEarlierBuildsReadBothWays) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  ASSERT_EQ(::mkdir(dir.file("history").c_str(), 0700), 0);
  std::ofstream(dir.file("history/version-000001"))
      << "{\"version\":1,\"time\":\"2026-12-09T21:04:00.000Z\",\"user\":\"admin\","
         "\"peer\":\"10.0.0.1\",\"procedure\":\"forwarder-config/restore\",\"size\":2}\n{}";
  const ConfigVersion old = history.read(1)->version;
  EXPECT_EQ(old.author.procedure, "forwarder-config/restore");
  EXPECT_EQ(old.facts.kind, "unknown");
  EXPECT_EQ(old.facts.ranWell, std::nullopt);
  EXPECT_EQ(old.facts.restores, std::nullopt);
  EXPECT_EQ(old.ranSeconds, std::nullopt);

  // The members an earlier build reads keep their names and types; facts not known are absent
  // rather than written as false or 0.
  VersionFacts good;
  good.ranWell = true;
  history.save("{}", kAdmin, good);
  const std::string text = readTextFile(history.directory() + "/version-000002");
  const JsonNodePtr header = parseJson(std::string_view(text).substr(0, text.find('\n')));
  EXPECT_EQ(header->at("version")->getInt(), 2);
  EXPECT_EQ(header->at("user")->getString(), "admin");
  EXPECT_EQ(header->at("peer")->getString(), "192.168.1.20");
  EXPECT_EQ(header->at("procedure")->getString(), "forwarder-config/apply");
  EXPECT_EQ(header->at("size")->getInt(), 2);
  EXPECT_TRUE(header->at("time")->isString());
  EXPECT_TRUE(header->at("ranWell")->getBool());
  for (const char* absent : {"reason", "changed", "ranSince", "ranSeconds", "restores"})
    EXPECT_FALSE(header->hasKey(absent)) << absent;
}

// 300 patches in a row pushed every version the forwarder had run well with out of the 50 kept.
TEST(ConfigHistory, AFloodOfSavesKeepsTheLastVersionThatRanWell) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  VersionFacts good;
  good.ranWell = true;
  VersionFacts bad;
  bad.ranWell = false;
  history.save("older good", kAdmin, good);
  history.save("last good", kAdmin, good);
  history.save("bad", kAdmin, bad);
  for (int i = 0; i < 60; ++i)
    history.save("patch " + std::to_string(i), kAdmin);
  std::vector<ConfigVersion> versions = history.list();
  ASSERT_EQ(versions.size(), ConfigHistory::kKept + 1);
  EXPECT_EQ(versions.front().number, 63);
  EXPECT_EQ(versions[ConfigHistory::kKept - 1].number, 14);
  EXPECT_EQ(versions.back().number, 2);  // only the newest good one stays beyond the 50
  EXPECT_EQ(history.read(2)->bytes, "last good");
  EXPECT_EQ(lastGoodOf(versions), 2);

  // A newer good version takes its place, and is among the 50: nothing extra stays.
  history.save("new good", kAdmin, good);
  versions = history.list();
  ASSERT_EQ(versions.size(), ConfigHistory::kKept);
  EXPECT_EQ(versions.back().number, 15);
  EXPECT_EQ(history.read(2), std::nullopt);
  EXPECT_EQ(lastGoodOf(versions), 64);
  EXPECT_EQ(lastGoodOf({}), std::nullopt);
}

TEST(ConfigHistory, FindsTheNewestVersionHoldingTheFileAsItIs) {
  TempDir dir;
  ConfigHistory history(dir.file("history"));
  EXPECT_EQ(history.newestHolding("{}"), std::nullopt);  // no folder yet
  history.save("{}", kAdmin);
  history.save("{\"a\": 1}", kAdmin);
  history.save("{}", kAdmin);
  EXPECT_EQ(history.newestHolding("{}"), 3);
  EXPECT_EQ(history.newestHolding("{\"a\": 1}"), 2);
  EXPECT_EQ(history.newestHolding("{\"a\": 1}\n"), std::nullopt);  // bytes, not meaning
}

TEST(ConfigHistory, FileWrittenAtIsTheModificationTime) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  EXPECT_EQ(fileWrittenAt(path), std::nullopt);
  std::ofstream(path) << "{}";
  // 2026-12-09 21:05:00.250 UTC
  const std::int64_t when = (daysFromCivil(2026, 12, 9) * 86400 + 21 * 3600 + 5 * 60) * 1'000'000;
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(when / 1'000'000), 250'000'000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(fileWrittenAt(path), when + 250'000);
}

TEST(ConfigHistory, AFolderThatCannotBeWrittenKeepsNothing) {
  TempDir dir;
  // A file where the folder should be: even root cannot write into it.
  std::ofstream(dir.file("history")) << "in the way";
  ConfigHistory history(dir.file("history"));
  EXPECT_THROW(history.save("text", kAdmin), OSError);
  EXPECT_THROW(history.list(), OSError);
}

}  // namespace
}  // namespace relaydash
