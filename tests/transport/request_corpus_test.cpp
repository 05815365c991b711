// Replays the committed fuzz corpus of the request parser through the fuzz entry point, so the
// normal test run catches a regression on any input the fuzzer once found interesting.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(RequestCorpus, EveryInputIsHandled) {
  std::size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator("fuzz/corpus/request")) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
