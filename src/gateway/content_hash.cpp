#include "gateway/content_hash.hpp"

#include <cstdint>
#include <cstdio>

namespace relaydash {

std::string contentHash(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  char text[40];
  std::snprintf(text, sizeof text, "%016llx-%llx", static_cast<unsigned long long>(hash),
                static_cast<unsigned long long>(bytes.size()));
  return text;
}

}  // namespace relaydash
