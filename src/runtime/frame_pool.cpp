#include "runtime/frame_pool.hpp"

#include <array>
#include <new>
#include <utility>

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

constexpr std::size_t kGranule = 64;
constexpr std::size_t kClasses = 32;  // frames up to 2 KiB are pooled
constexpr std::size_t kMaxFreePerClass = 1024;

struct FreeFrame {
  FreeFrame* next;
};

struct Pool {
  std::array<FreeFrame*, kClasses> heads{};
  std::array<std::size_t, kClasses> counts{};

  ~Pool() {
    for (FreeFrame* head : heads) {
      while (head)
        ::operator delete(std::exchange(head, head->next));
    }
  }
};

thread_local Pool pool;

std::size_t sizeClass(std::size_t size) {
  return (size + kGranule - 1) / kGranule - 1;
}

}  // namespace

void* allocateFrame(std::size_t size) {
  const std::size_t c = sizeClass(size);
  if (!kPooling || c >= kClasses) return ::operator new(size);
  if (FreeFrame* frame = pool.heads[c]) {
    pool.heads[c] = frame->next;
    --pool.counts[c];
    return frame;
  }
  return ::operator new((c + 1) * kGranule);
}

void releaseFrame(void* frame, std::size_t size) noexcept {
  const std::size_t c = sizeClass(size);
  if (!kPooling || c >= kClasses || pool.counts[c] >= kMaxFreePerClass) {
    ::operator delete(frame);
    return;
  }
  pool.heads[c] = new (frame) FreeFrame{pool.heads[c]};
  ++pool.counts[c];
}

}  // namespace relaydash
