// What a parsed head is counted as holding, against what the parse really allocates: every
// allocation of this program is counted, with the size the allocator really gives.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <string_view>

#include "transport/limits.hpp"
#include "transport/request_head.hpp"

namespace {
std::size_t allocated = 0;
// The allocator's header beside each block.
constexpr std::size_t kBlockOverhead = sizeof(std::size_t);
}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  allocated += malloc_usable_size(block) + kBlockOverhead;
  return block;
}
namespace {
void release(void* block) noexcept {
  if (block) allocated -= malloc_usable_size(block) + kBlockOverhead;
  std::free(block);
}
}  // namespace
void operator delete(void* block) noexcept {
  release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  release(block);
}

namespace relaydash {
namespace {

struct Measured {
  std::size_t counted;
  std::size_t real;
};

Measured parse(int lines, const std::function<std::string(int)>& line) {
  std::string head = "GET /path?query HTTP/1.1\r\n";
  for (int i = 0; i < lines; ++i)
    head += line(i) + "\r\n";
  head += "\r\n";
  const std::size_t before = allocated;
  auto parsed = std::make_unique<RequestHead>();
  HeadProgress progress;
  EXPECT_EQ(parseRequestHead(head, false, progress, *parsed).status, HeadStatus::Complete);
  return {progress.heldBytes, allocated - before};
}

TEST(HeadMemory, WhatAHeadIsCountedAsHoldingCoversWhatItsParseAllocates) {
  // Built piece by piece: GCC 12 warns wrongly about a chain of + on strings.
  const auto line = [](const char* name, int i, std::string_view rest) {
    std::string text(name);
    text.append(std::to_string(i)).append(rest);
    return text;
  };
  const std::string longName(40, 'n');
  const std::string longValue = ": " + std::string(60, 'v');
  const std::function<std::string(int)> shapes[] = {
      [&](int i) { return line("a", i, ":"); },
      [&](int i) { return line(longName.c_str(), i, ": v"); },
      [&](int i) { return line("x", i, longValue); },
      [&](int i) { return line("c", i, ": 1, 2,3 ,4,5,6,7,8,9,0"); },
      [](int) { return std::string("same: value"); },
      [&](int i) { return line("cookie: ", i, "=cccccccccccccccccccccccccccccc"); },
      [](int) { return std::string(":"); },
  };
  const std::size_t kNewNames = 4;  // the shapes whose every line stores a new name
  for (std::size_t shape = 0; shape < std::size(shapes); ++shape) {
    for (const int lines : {1, 30, 1000, 3000}) {
      const Measured m = parse(lines, shapes[shape]);
      EXPECT_GE(m.counted, m.real) << "shape " << shape << ", " << lines << " lines";
      // Not so far above it that the total would turn away heads it has room for; lines that
      // store no new name are counted by their characters alone.
      if (shape < kNewNames) {
        EXPECT_LE(m.counted, 3 * m.real + 4096) << "shape " << shape << ", " << lines << " lines";
      }
    }
  }
}

}  // namespace
}  // namespace relaydash
