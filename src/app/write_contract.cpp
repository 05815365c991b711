// Writes the web application's lib/contract.js (app/contract.hpp) to the file named by its one
// argument: run by the build, never installed.
#include <cstdio>
#include <fstream>
#include <string>

#include "app/contract.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: relaydash_contract FILE\n", stderr);
    return 2;
  }
  const std::string module = relaydash::contractModule();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(module.data(), static_cast<std::streamsize>(module.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "relaydash_contract: %s could not be written\n", argv[1]);
    return 1;
  }
  return 0;
}
