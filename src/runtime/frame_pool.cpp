#include "runtime/frame_pool.hpp"

#include <array>
#include <new>
#include <utility>

#include "runtime/limits.hpp"

namespace relaydash {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooling = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooling = false;
#else
constexpr bool kPooling = true;
#endif
#else
constexpr bool kPooling = true;
#endif

using limits::kFrameClasses;
using limits::kFrameGranule;

struct FreeFrame {
  FreeFrame* next;
};

struct Pool {
  std::array<FreeFrame*, kFrameClasses> heads{};
  std::array<std::size_t, kFrameClasses> counts{};

  void release() noexcept {
    for (std::size_t c = 0; c < kFrameClasses; ++c) {
      while (FreeFrame* frame = heads[c]) {
        heads[c] = frame->next;
        ::operator delete(frame);
      }
      counts[c] = 0;
    }
  }
  ~Pool() { release(); }
};

thread_local Pool pool;

std::size_t sizeClass(std::size_t size) {
  return (size + kFrameGranule - 1) / kFrameGranule - 1;
}

}  // namespace

void* allocateFrame(std::size_t size) {
  const std::size_t c = sizeClass(size);
  if (!kPooling || c >= kFrameClasses) return ::operator new(size);
  if (FreeFrame* frame = pool.heads[c]) {
    pool.heads[c] = frame->next;
    --pool.counts[c];
    return frame;
  }
  return ::operator new((c + 1) * kFrameGranule);
}

void releaseFrame(void* frame, std::size_t size) noexcept {
  const std::size_t c = sizeClass(size);
  if (!kPooling || c >= kFrameClasses || pool.counts[c] >= limits::kMaxFreeFramesPerClass) {
    ::operator delete(frame);
    return;
  }
  pool.heads[c] = new (frame) FreeFrame{pool.heads[c]};
  ++pool.counts[c];
}

void releaseFreeFrames() noexcept {
  pool.release();
}

}  // namespace relaydash
