#include <gtest/gtest.h>

#include "crypto/libsodium.hpp"

namespace relaydash {
namespace {

// As at start-up: a missing library stops the run with its message, before any test.
class LibsodiumEnvironment : public ::testing::Environment {
  void SetUp() override { loadLibsodium(); }
};

const auto* const kLibsodium = ::testing::AddGlobalTestEnvironment(new LibsodiumEnvironment);

}  // namespace
}  // namespace relaydash
