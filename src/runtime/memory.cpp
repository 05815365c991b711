#include "runtime/memory.hpp"

#include <malloc.h>

#include "runtime/frame_pool.hpp"

namespace relaydash {

void releaseFreeMemory() noexcept {
  releaseFreeFrames();
  // glibc gives back the top of the heap by itself, but not free pages below a block still in
  // use, which a burst of connections leaves everywhere.
  ::malloc_trim(0);
}

}  // namespace relaydash
