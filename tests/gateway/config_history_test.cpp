#include "gateway/config_history.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/os_error.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;

const ChangeAuthor kAdmin{"admin", "192.168.1.20", "forwarder-config/apply"};

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
  // A temporary file of a save that was killed, a version cut short, a stranger's file.
  std::ofstream(dir.file("history/.version-000002.Ab3dE9")) << "{\"version\":2";
  std::ofstream(dir.file("history/version-000003")) << "{\"version\":3,\"size\":100}\nshort";
  std::ofstream(dir.file("history/notes.txt")) << "mine";
  EXPECT_EQ(numbers(history.list()), std::vector<int>{1});
  EXPECT_EQ(history.read(3), std::nullopt);

  EXPECT_EQ(history.save("four", kAdmin).number, 4);
  EXPECT_FALSE(fs::exists(dir.file("history/.version-000002.Ab3dE9")));
  EXPECT_TRUE(fs::exists(dir.file("history/notes.txt")));
  history.remove(4);
  EXPECT_EQ(numbers(history.list()), std::vector<int>{1});
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
