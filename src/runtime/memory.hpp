#pragma once

namespace relaydash {

// Gives memory that is free back to the system: the coroutine frames the pool keeps, and the
// pages the allocator holds without using them. For after a burst (of connections, say) that is
// over; it walks the heap, so it is not for every request.
void releaseFreeMemory() noexcept;

}  // namespace relaydash
