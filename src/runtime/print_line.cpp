#include "runtime/print_line.hpp"

#include <cstdio>

namespace relaydash {

void printLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace relaydash
