// Writes the web application's lib/contract.js (app/contract.hpp) on standard output: run by the
// build, never installed.
#include <cstdio>
#include <string>

#include "app/contract.hpp"

int main() {
  const std::string module = relaydash::contractModule();
  return std::fwrite(module.data(), 1, module.size(), stdout) == module.size() &&
                 std::fflush(stdout) == 0
             ? 0
             : 1;
}
