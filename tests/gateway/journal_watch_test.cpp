#include "gateway/journal_watch.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

void append(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::app) << text;
}

// What journald does with an entry: written through a shared map, which inotify does not see,
// then the file truncated to the size it has.
void writeAsJournaldDoes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  const off_t size = ::lseek(fd, 0, SEEK_END);
  ASSERT_GT(size, 0);
  void* map =
      ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  std::memcpy(map, "ENTRY", 5);
  ::munmap(map, static_cast<std::size_t>(size));
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
}

TEST(JournalWatch, JournaldsFoldersAndFiles) {
  TempDir dir;
  const std::string top = dir / "journal";
  std::filesystem::create_directories(top + "/machine-1");
  const std::string file = top + "/machine-1/system.journal";
  append(file, std::string(4096, '\0'));

  JournalWatch watch({top, dir / "not-there-yet"});
  EXPECT_FALSE(watch.changed());
  writeAsJournaldDoes(file);
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());  // one look drains what happened

  // A new machine's folder is watched from when it appears.
  std::filesystem::create_directory(top + "/machine-2");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
  append(top + "/machine-2/system.journal", "x");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());

  // Rotation and vacuuming.
  std::filesystem::rename(file, top + "/machine-1/system@0001.journal~");
  EXPECT_TRUE(watch.changed());
  std::filesystem::remove(top + "/machine-1/system@0001.journal~");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());

  // A path that comes into being later is taken up then.
  std::filesystem::create_directories(dir / "not-there-yet/machine-3");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
  append(dir / "not-there-yet/machine-3/system.journal", "x");
  EXPECT_TRUE(watch.changed());
}

TEST(JournalWatch, APlainFileAndNothingToWatch) {
  TempDir dir;
  const std::string file = dir / "journal.jsonl";
  append(file, "a\n");
  JournalWatch watch({file});
  EXPECT_FALSE(watch.changed());
  append(file, "b\n");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
  // Rewritten whole.
  std::ofstream(file) << "c\n";
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());

  // Removed: nothing is watched, so anything may have changed; made again, watched again.
  std::filesystem::remove(file);
  EXPECT_TRUE(watch.changed());
  EXPECT_TRUE(watch.changed());
  append(file, "d\n");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
  append(file, "e\n");
  EXPECT_TRUE(watch.changed());

  JournalWatch nothing({dir / "none", dir / "none/either"});
  EXPECT_TRUE(nothing.changed());
  EXPECT_TRUE(nothing.changed());
}

TEST(JournalWatch, ThePathsOfTheEnvironment) {
  TempDir dir;
  const std::string a = dir / "a", b = dir / "b";
  append(a, "");
  append(b, "");
  ::setenv("RELAYDASH_JOURNAL_WATCH", (":" + a + "::" + b + ":").c_str(), 1);
  JournalWatch watch = JournalWatch::fromEnvironment();
  ::unsetenv("RELAYDASH_JOURNAL_WATCH");
  EXPECT_FALSE(watch.changed());
  append(b, "x");
  EXPECT_TRUE(watch.changed());
  append(a, "x");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
}

}  // namespace
}  // namespace relaydash
