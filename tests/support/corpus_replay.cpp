// Replays a fuzz target's committed corpus through the target's own entry point, so the normal
// test run catches a regression on any input the fuzzer once found interesting. The target's
// checks abort on failure; FUZZ_CORPUS names the corpus folder, relative to the repository.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(FuzzCorpus, EveryInputPassesTheTargetsChecks) {
  const std::filesystem::path corpus = FUZZ_CORPUS;
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << "run from the repository root";
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
