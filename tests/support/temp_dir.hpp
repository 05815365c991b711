#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace relaydash {

// A fresh directory under /tmp, removed with everything in it when the object goes away (also
// when a test made it read-only).
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/relaydash-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const noexcept { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string operator/(const std::string& name) const { return file(name); }

 private:
  std::filesystem::path path_;
};

}  // namespace relaydash
