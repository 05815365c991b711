#pragma once

#include <chrono>
#include <optional>

namespace relaydash {

// A duration in whole milliseconds that the environment variable gives ("250"): nullopt when the
// variable is unset or empty, is not a whole number, or is less than `least`. Settings for tests
// and operators that the command line does not take.
std::optional<std::chrono::milliseconds> millisecondsFromEnvironment(const char* variable,
                                                                     long long least = 1);

}  // namespace relaydash
