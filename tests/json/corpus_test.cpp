// Replays the committed fuzz corpus through the fuzz target's own checks; a failing check
// aborts the test binary.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace relaydash {
namespace {

TEST(JsonFuzzCorpus, EverySeedPassesTheFuzzChecks) {
  const std::filesystem::path corpus = "fuzz/corpus/json";
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << "run from the repository root";
  int seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++seeds;
  }
  EXPECT_GE(seeds, 10);
}

}  // namespace
}  // namespace relaydash
