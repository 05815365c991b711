#include "loader/shared_library.hpp"

#include <gtest/gtest.h>

namespace relaydash {
namespace {

TEST(SharedLibraryDeathTest, LoadsTheFirstNameThatExistsOrEndsTheProcess) {
  EXPECT_EQ(libraryNamePattern({"libsqlite3.so", "libsqlite3.so.0"}), "libsqlite3.so(|.0)");
  const SharedLibrary library = loadLibraryOrExit({"librelaydash-missing.so", "libsodium.so.23"});
  EXPECT_NE(library.symbol("randombytes_buf"), nullptr);

  EXPECT_EXIT(loadLibraryOrExit({"librelaydash-missing.so", "librelaydash-missing.so.1"}),
              testing::ExitedWithCode(1),
              "^could not load: librelaydash-missing.so\\(\\|\\.1\\)\n$");
  void (*slot)() = nullptr;
  EXPECT_EXIT(importOrExit(library, "relaydash_missing_function", slot), testing::ExitedWithCode(1),
              "^could not import: relaydash_missing_function\n$");
}

}  // namespace
}  // namespace relaydash
