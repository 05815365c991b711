#include "cli/terminal.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace relaydash {
namespace {

// A descriptor that is not a terminal, or a terminal whose size was never set, has no width.
std::optional<int> windowColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return std::nullopt;
  return size.ws_col;
}

std::optional<int> controllingTerminalColumns() {
  char name[L_ctermid];
  if (::ctermid(name) == nullptr || name[0] == '\0') return std::nullopt;
  const int fd = ::open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const std::optional<int> columns = windowColumns(fd);
  ::close(fd);
  return columns;
}

}  // namespace

std::optional<int> columnsFromEnvironment(const char* value) {
  if (value == nullptr) return std::nullopt;
  const char* end = value + std::strlen(value);
  if (value == end || *value < '0' || *value > '9') return std::nullopt;
  int columns = 0;
  const auto [stop, error] = std::from_chars(value, end, columns);
  if (error != std::errc{} || stop != end || columns <= 0) return std::nullopt;
  return columns;
}

int terminalWidth() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (const std::optional<int> columns = windowColumns(fd)) return *columns;
  }
  if (const std::optional<int> columns = controllingTerminalColumns()) return *columns;
  if (const std::optional<int> columns = columnsFromEnvironment(std::getenv("COLUMNS"))) {
    return *columns;
  }
  return kDefaultTerminalWidth;
}

}  // namespace relaydash
