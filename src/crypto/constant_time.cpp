#include "crypto/constant_time.hpp"

namespace relaydash {

bool constantTimeEquals(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  // Every byte is visited whatever the differences; volatile keeps the compiler from turning the
  // loop back into an early exit.
  volatile unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace relaydash
