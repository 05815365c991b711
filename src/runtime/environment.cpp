#include "runtime/environment.hpp"

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace relaydash {

std::optional<std::chrono::milliseconds> millisecondsFromEnvironment(const char* variable,
                                                                     long long least) {
  const char* text = std::getenv(variable);
  if (!text) return std::nullopt;
  const std::string_view digits(text);
  long long value = 0;
  const auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || at != digits.data() + digits.size() ||
      value < least) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(value);
}

}  // namespace relaydash
