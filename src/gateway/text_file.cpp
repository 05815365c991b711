#include "gateway/text_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {

std::string readTextFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) raiseOSError();
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

}  // namespace relaydash
