#pragma once

#include <cstddef>

// Every size the runtime fixes, in one place. The wire's limits are the transport's
// (transport/limits.hpp).
namespace relaydash::limits {

// Events one wait of the loop collects; more stay ready for the next wait.
inline constexpr int kMaxEventsPerWait = 256;

// Pieces one socket write hands to the kernel at once: an answer head, a body, and what was
// queued before them fit with room to spare.
inline constexpr std::size_t kMaxWritePieces = 8;

// Coroutine frames are recycled by size class, in granules; larger frames go straight to the
// heap. Each class keeps at most kMaxFreeFramesPerClass frames: enough for the frames a busy
// loop frees and takes again at once, not for the frames of a burst of connections, which go
// back to the heap (and from there to the system) when the burst is over.
inline constexpr std::size_t kFrameGranule = 32;
inline constexpr std::size_t kFrameClasses = 64;
inline constexpr std::size_t kMaxFreeFramesPerClass = 64;

}  // namespace relaydash::limits
