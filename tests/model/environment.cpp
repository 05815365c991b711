#include <gtest/gtest.h>

#include "crypto/libsodium.hpp"
#include "model/sqlite.hpp"

namespace relaydash {
namespace {

// As at start-up, in its order: a missing library stops the run with its message, before any test.
class LibrariesEnvironment : public ::testing::Environment {
  void SetUp() override {
    loadSqlite();
    loadLibsodium();
  }
};

const auto* const kLibraries = ::testing::AddGlobalTestEnvironment(new LibrariesEnvironment);

}  // namespace
}  // namespace relaydash
