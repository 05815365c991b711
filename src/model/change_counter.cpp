#include "model/change_counter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace relaydash {
namespace {

// In the database file's 100-byte header: the write and read format versions (1 for a
// rollback journal, 2 for WAL) at 18 and 19, the big-endian change counter at 24.
constexpr off_t kVersionsOffset = 18;
constexpr std::size_t kCounterAt = 24 - kVersionsOffset;
constexpr unsigned char kRollbackJournal = 1;

}  // namespace

ChangeCounter::ChangeCounter(std::string path) : path_(std::move(path)) {
  reopened();
}

bool ChangeCounter::reopened() noexcept {
  struct stat named {};
  if (::stat(path_.c_str(), &named) != 0) {
    file_ = FileDescriptor();
    return false;
  }
  if (file_ && named.st_dev == device_ && named.st_ino == inode_) return false;
  file_ = FileDescriptor(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat opened {};
  if (!file_ || ::fstat(file_.get(), &opened) != 0) {
    file_ = FileDescriptor();
    return false;
  }
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
  return true;
}

std::optional<std::uint32_t> ChangeCounter::read() noexcept {
  if (reopened() || !file_) return std::nullopt;
  std::array<unsigned char, kCounterAt + 4> bytes{};
  if (::pread(file_.get(), bytes.data(), bytes.size(), kVersionsOffset) !=
      static_cast<ssize_t>(bytes.size())) {
    return std::nullopt;
  }
  if (bytes[0] != kRollbackJournal || bytes[1] != kRollbackJournal) return std::nullopt;
  std::uint32_t counter = 0;
  for (std::size_t i = kCounterAt; i < bytes.size(); ++i)
    counter = counter << 8 | bytes[i];
  return counter;
}

}  // namespace relaydash
