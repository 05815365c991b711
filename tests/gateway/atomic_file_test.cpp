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

TEST(RemoveLeftoverFiles, OnlyTheTemporaryFilesOfThatFile) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  std::ofstream(path) << "{}";
  for (const char* name : {".global_conf.json.Ab3dE9", ".global_conf.json.zzzzzz",
                           ".other.json.Ab3dE9", ".global_conf.json.toolong", "notes"})
    std::ofstream(dir.file(name)) << "x";
  removeLeftoverFiles(path);
  EXPECT_EQ(entries(dir),
            (std::vector<std::string>{".global_conf.json.toolong", ".other.json.Ab3dE9",
                                      "global_conf.json", "notes"}));
  removeLeftoverFiles(dir.file("missing.json"));
}

TEST(TemporaryFileNames, AreToldFromFinishedFiles) {
  EXPECT_TRUE(isTemporaryFileName(".version-000001.a1B2c3"));
  EXPECT_TRUE(isTemporaryFileName(".global_conf.json.XXXXXX"));
  EXPECT_FALSE(isTemporaryFileName("version-000001"));
  EXPECT_FALSE(isTemporaryFileName(".hidden"));
  EXPECT_FALSE(isTemporaryFileName(".abcdef"));
}

}  // namespace
}  // namespace relaydash
