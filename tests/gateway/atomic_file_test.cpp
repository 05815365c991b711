#include "gateway/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/os_error.hpp"
#include "support/killed_while_writing.hpp"
#include "support/read_file.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> entries(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReplaceFile, RefusesAFileChangedSinceItWasRead) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  std::ofstream(path) << "{\"b\": 2}";
  EXPECT_THROW(replaceFile(path, "{\"c\": 3}", std::string_view("{\"a\": 1}")), FileChangedError);
  EXPECT_EQ(readFile(path), "{\"b\": 2}");
  EXPECT_EQ(entries(dir), std::vector<std::string>{"global_conf.json"});

  replaceFile(path, "{\"c\": 3}", std::string_view("{\"b\": 2}"));
  EXPECT_EQ(readFile(path), "{\"c\": 3}");
}

TEST(WriteNewFile, CreatesOrReplacesWithTheBitsAsked) {
  TempDir dir;
  const std::string path = dir.file("version-000001");
  writeNewFile(path, "first", 0600);
  writeNewFile(path, "second", 0600);
  EXPECT_EQ(readFile(path), "second");
  struct stat info {};
  ::stat(path.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(entries(dir), std::vector<std::string>{"version-000001"});

  // Into a "folder" that is a file: nothing is created.
  EXPECT_THROW(writeNewFile(dir.file("version-000001/x"), "text"), OSError);
  EXPECT_EQ(entries(dir), std::vector<std::string>{"version-000001"});
}

TEST(ReplaceFile, AWriteKilledMidwayLeavesATemporaryFileThatIsTidiedAway) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  std::ofstream(path) << "{}";
  ASSERT_TRUE(killedWhileWriting([&] { replaceFile(path, std::string(100, ' ')); }));
  EXPECT_EQ(readFile(path), "{}");
  const std::vector<std::string> names = entries(dir);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(temporaryFileTarget(names[0]), "global_conf.json") << names[0];

  EXPECT_EQ(removeLeftoverFiles(path), std::vector<std::string>{});
  EXPECT_EQ(entries(dir), std::vector<std::string>{"global_conf.json"});
}

TEST(TemporaryFileTarget, TellsTemporaryFilesFromFinishedAndOtherFiles) {
  EXPECT_EQ(temporaryFileTarget(".global_conf.json.relaydash-Ab3dE9"), "global_conf.json");
  EXPECT_EQ(temporaryFileTarget(".version-000001.relaydash-a1B2c3"), "version-000001");
  // Earlier builds' shape, only when asked for: beside the configuration it may be an operator's.
  EXPECT_EQ(temporaryFileTarget(".version-000001.a1B2c3"), "");
  EXPECT_EQ(temporaryFileTarget(".version-000001.a1B2c3", true), "version-000001");
  EXPECT_EQ(temporaryFileTarget(".global_conf.json.backup", true), "global_conf.json");
  EXPECT_EQ(temporaryFileTarget(".version-000001.relaydash-a1B2c3", true), "version-000001");
  for (const char* other : {"version-000001", "global_conf.json.relaydash-Ab3dE9", ".hidden",
                            ".abcdef", ".relaydash-Ab3dE9", ".x.relaydash-Ab3d-9",
                            ".x.relaydash-Ab3dE", ".x.relaydash-Ab3dE9~", ".x.Ab3dE9.swp"}) {
    EXPECT_EQ(temporaryFileTarget(other, true), "") << other;
  }
}

TEST(RemoveLeftoverFiles, OnlyTheTemporaryFilesOfThatFile) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  std::ofstream(path) << "{}";
  for (const char* name : {".global_conf.json.relaydash-Ab3dE9", ".global_conf.json.relaydash-zz",
                           ".global_conf.json.backup", ".other.json.relaydash-Ab3dE9", "notes"})
    std::ofstream(dir.file(name)) << "x";
  // Named like a temporary file, but not one mkstemp makes: someone else's.
  fs::create_directory(dir.file(".global_conf.json.relaydash-Folder"));
  fs::create_symlink("notes", dir.file(".global_conf.json.relaydash-Linked"));
  EXPECT_EQ(removeLeftoverFiles(path), std::vector<std::string>{});
  EXPECT_EQ(entries(dir),
            (std::vector<std::string>{
                ".global_conf.json.backup", ".global_conf.json.relaydash-Folder",
                ".global_conf.json.relaydash-Linked", ".global_conf.json.relaydash-zz",
                ".other.json.relaydash-Ab3dE9", "global_conf.json", "notes"}));
  EXPECT_EQ(removeLeftoverFiles(dir.file("missing.json")), std::vector<std::string>{});
  EXPECT_EQ(removeLeftoverFiles(dir.file("notes/global_conf.json")), std::vector<std::string>{});
}

TEST(RemoveLeftoverFiles, BesideTheFileALinkLeadsTo) {
  TempDir dir;
  fs::create_directory(dir.file("real"));
  std::ofstream(dir.file("real/global_conf.json")) << "{}";
  fs::create_symlink("real/global_conf.json", dir.file("global_conf.json"));
  std::ofstream(dir.file("real/.global_conf.json.relaydash-Ab3dE9")) << "x";
  replaceFile(dir.file("global_conf.json"), "{\"a\": 1}");
  EXPECT_TRUE(fs::is_symlink(dir.file("global_conf.json")));
  EXPECT_EQ(removeLeftoverFiles(dir.file("global_conf.json")), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dir.file("real/.global_conf.json.relaydash-Ab3dE9")));
  EXPECT_EQ(readFile(dir.file("real/global_conf.json")), "{\"a\": 1}");
}

TEST(RemoveTemporaryFiles, SaysWhatItCouldNotDo) {
  TempDir dir;
  const auto any = [](std::string_view) { return true; };
  EXPECT_EQ(removeTemporaryFiles(dir.file("missing"), any, true), std::vector<std::string>{});
  std::ofstream(dir.file("history")) << "a file where the folder should be";
  const std::vector<std::string> problems = removeTemporaryFiles(dir.file("history"), any, true);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "The folder " + dir.file("history") +
                             " could not be searched for temporary files that an interrupted "
                             "write left: Not a directory");
}

}  // namespace
}  // namespace relaydash
