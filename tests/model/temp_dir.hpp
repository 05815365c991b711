#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace relaydash {

// A fresh directory under /tmp, removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/relaydash-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace relaydash
