#pragma once

#include <cstddef>

namespace relaydash {

// Recycles coroutine frames: every request runs a few short coroutines, and handing their
// frames back to a per-thread free list keeps the request path off the general heap.
// Frames above the largest size class go straight to the heap, and so do frames beyond what a
// class keeps (limits.hpp). Sanitizer builds bypass the pool so that use-after-free stays
// visible.
void* allocateFrame(std::size_t size);
void releaseFrame(void* frame, std::size_t size) noexcept;

// Gives every frame the pool keeps back to the heap (after a burst of connections, say).
void releaseFreeFrames() noexcept;

}  // namespace relaydash
