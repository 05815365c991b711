#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace relaydash {

// A whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

}  // namespace relaydash
