#include "gateway/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {

namespace {

std::string readAll(const FileDescriptor& file) {
  std::string text;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
    if (n == 0) return text;
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseOSError();
    }
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string readTextFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) raiseOSError();
  return readAll(file);
}

std::string readOwnFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file) raiseOSError();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) raiseOSError();
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    raiseOSError();
  }
  return readAll(file);
}

std::string resolvedPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

}  // namespace relaydash
