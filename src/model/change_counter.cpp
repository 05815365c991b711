#include "model/change_counter.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>

namespace relaydash {
namespace {

// In the database file's 100-byte header: the write and read format versions (1 for a
// rollback journal, 2 for WAL) at 18 and 19, the big-endian change counter at 24.
constexpr off_t kVersionsOffset = 18;
constexpr std::size_t kCounterAt = 24 - kVersionsOffset;
constexpr unsigned char kRollbackJournal = 1;

}  // namespace

ChangeCounter::ChangeCounter(const std::string& path)
    : file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

std::optional<std::uint32_t> ChangeCounter::read() const noexcept {
  if (!file_) return std::nullopt;
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
