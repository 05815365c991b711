#include "gateway/config_history.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gateway/atomic_file.hpp"
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
