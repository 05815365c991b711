// Replays a fuzz target's committed corpus through the target's own entry point, so the normal
// test run catches a regression on any input the fuzzer once found interesting. The targets
// report a failed check by aborting (the entry point's return value means nothing: it is always
// 0), so each input runs in a child process of its own, which must end normally: a failing
// input is reported by name and the others still run. FUZZ_CORPUS names the corpus folder,
// relative to the repository.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

[[noreturn]] void replay(const std::string& bytes) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  // Through exit(), so that a sanitizer's leak check has its say in the exit status.
  std::exit(0);
}

TEST(FuzzCorpusDeathTest, EveryInputPassesTheTargetsChecks) {
  // Forked without a new exec: the test runs one thread, the parent never calls the target, and
  // under qemu-user (the ARM builds' test runs) a re-exec of the program would fail.
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::filesystem::path corpus = FUZZ_CORPUS;
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << "run from the repository root";
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EXIT(replay(bytes), ::testing::ExitedWithCode(0), "") << entry.path().string();
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
