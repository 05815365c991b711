#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>

// Every limit of the wire, and every size a connection keeps, in one place: what a request may
// hold, what a connection answers with, how accepting is throttled. The runtime's own sizes are
// in runtime/limits.hpp.
namespace relaydash::limits {

// --- What one request may hold

// A request or header line may hold this many characters (its line end not counted); one more
// and the request is refused with 413 and the connection closed.
inline constexpr std::size_t kMaxLineLength = 8192;
// A request may carry this many distinct header names; one more ends the connection.
inline constexpr std::size_t kMaxHeaderNames = 10000;
// The request line and header lines of one request may hold this many bytes together; one
// more is refused like a header name too many. A line holds its characters (the line end not
// counted), plus kBytesPerExtraValue for every value after the first that its commas split
// off, since each is stored as a string of its own.
inline constexpr std::size_t kMaxHeadBytes = 1024 * 1024;
inline constexpr std::size_t kBytesPerExtraValue = 32;
// What a head really costs in memory as it is parsed, counted from what the parse stores (an
// upper bound of what the header map allocates, measured with the allocator's own sizes): a
// name it has not seen yet costs kHeldPerHeaderName (its entry, the list of its values, its
// place in the index, with the slack of their growth), and every character of a line
// kHeldPerLineByte (the name is kept twice, in the entry and in the index); every value after
// the first kBytesPerExtraValue. One header line of a few characters costs about 200 bytes,
// 40 times what it takes on the wire.
inline constexpr std::size_t kHeldPerHeaderName = 256;
inline constexpr std::size_t kHeldPerLineByte = 3;
// The requests in hand, on all connections together, may hold this much memory: from their
// first byte until they are answered, the heads as parsed and the buffers that hold them and
// their bodies. Past it, the connection holding the most of those still reading their head or
// body is refused.
inline constexpr std::size_t kMaxHeldInTotal = 32 * 1024 * 1024;
// The largest request body this system accepts: start-up gives it to the server, the web
// application keeps its requests below it.
inline constexpr long kMaxRequestBody = 4096;
// Content-Length values, and the numbers of a version, saturate here.
inline constexpr std::int64_t kMaxContentLength = std::numeric_limits<std::int32_t>::max();
inline constexpr int kMaxVersionNumber = std::numeric_limits<int>::max();

// Lines of the longest length times the names allowed would be 80 MB: the names alone do not
// bound a head, the head's byte limit does.
static_assert(kMaxHeaderNames * kMaxLineLength > kMaxHeadBytes);
// 10,000 header lines of an ordinary 100 characters fit, so the name limit stays what a caller
// meets first.
static_assert(kMaxHeaderNames * 100 <= kMaxHeadBytes);
// The most one head allowed by the limits above may hold: several fit the total at once, so one
// connection cannot take it all.
inline constexpr std::size_t kMaxHeldByHead =
    kMaxHeaderNames * kHeldPerHeaderName + kMaxHeadBytes * kHeldPerLineByte;
static_assert(kMaxHeldInTotal / kMaxHeldByHead >= 4);
static_assert(kMaxRequestBody <= kMaxContentLength);

// --- Accepting

inline constexpr int kListenBacklog = 4096;
// At the descriptor ceiling a connection waiting to be accepted makes room by closing one that
// waits for its next request or has not completed its head. When there is none, accepting
// pauses and looks again this often.
inline constexpr std::chrono::milliseconds kThrottlePoll{500};
// The ceiling when the open-files limit cannot be read.
inline constexpr long kDefaultMaxFDs = 16000;
// Descriptors kept free for the work itself at all times: accepting makes room (or pauses)
// before a new connection would take one of them, so a sign-in, a status or an apply never
// fails for want of a descriptor because connections filled the table. What they are for:
// - a program a request runs (systemctl, journalctl, timedatectl): its two pipes, the child's
//   ends of them while it starts, the exit notice and a timer. A request runs one program at a
//   time, and this many requests may run theirs at once;
inline constexpr int kDescriptorsPerProgram = 6;
inline constexpr int kProgramsAtOnce = 8;
// - files: the account database and its journal, the SQLite library loaded again at sign-in
//   and the loader's cache, a kept version and its folder, the configuration's temporary file
//   and its folder, the note of a change under way.
inline constexpr int kDescriptorsForFiles = 10;
inline constexpr int kReservedDescriptors =
    kDescriptorsPerProgram * kProgramsAtOnce + kDescriptorsForFiles;
// The reserve still leaves most of the smallest table a gateway runs with to connections.
static_assert(kReservedDescriptors < 256 / 3);

// --- Stalled connections

// A body that has received no byte for this long is stalled: at the descriptor ceiling, the
// one stalled longest is closed to make room, after the idle connections and those sending
// their head. A client that sends some bytes every second is never closed for this.
inline constexpr std::chrono::milliseconds kStalledAfter{1000};
// A body that has received no byte for this long is closed, whatever the pressure.
inline constexpr std::chrono::milliseconds kBodyStallLimit{60'000};
// An answer whose peer has taken no byte for kStalledAfter is stalled too: at the ceiling the
// one stalled longest is closed, after the stalled bodies (its request was read and answered;
// it cost the server most). A peer that takes nothing of an answer for this long is closed,
// whatever the pressure: it holds a descriptor, a workspace and up to twice kSendBuffer of the
// kernel's memory, and TCP itself gives up on a peer that vanished only after about 15
// minutes, on one that is there but does not read never. A browser or script on a LAN that
// wants its answer takes some of it within a minute, as bodies send some.
inline constexpr std::chrono::milliseconds kSendStallLimit{60'000};

// --- What a connection keeps

// A connection that waits for its next request holds no buffers: while it reads or answers a
// request it borrows a workspace (request record, read buffer, answers queue) from a pool that
// keeps this many for reuse.
inline constexpr std::size_t kKeptWorkspaces = 32;
// A workspace's read buffer: this big at first, and given back to this size after a request
// that made it grow, up to what one maximal line needs with its line end.
inline constexpr std::size_t kReadBuffer = 4096;
inline constexpr std::size_t kMaxReadBuffer = 2 * kMaxLineLength + 2;
static_assert(kMaxReadBuffer >= kMaxLineLength + 2, "a maximal line and its CR LF fit");
// Header storage that grew past this for a large request is given back when it ends.
inline constexpr std::size_t kKeptHeaderStorage = 16 * 1024;
// A workspace remembers the last head parsed into its request, up to this size, to take it
// again without parsing when a client repeats it (request_head.hpp, HeadMemo).
inline constexpr std::size_t kMaxRememberedHead = 1024;

// --- Answers

// Answers to requests that are already read wait in the connection's queue, to go out together
// in one write; the queue is written once it holds this much.
inline constexpr std::size_t kMaxQueuedAnswers = 64 * 1024;
// A body up to this size is copied into the queue; a larger one is written from where it lies,
// together with what the queue holds.
inline constexpr std::size_t kMaxCopiedBody = 2048;
// The kernel's buffer for a connection's answers not yet taken by its peer (the kernel makes
// room for twice this, for its own bookkeeping). Left to itself the kernel grows it to megabytes
// for a peer that sends requests but does not read the answers; with this size a connection
// stops being read once that much of its answers waits, besides what its queue holds. Enough
// for the largest file of the web application, and for a LAN's round trips.
inline constexpr int kSendBuffer = 64 * 1024;
// The queue keeps its storage up to this size between requests.
inline constexpr std::size_t kKeptAnswerQueue = 16 * 1024;

// --- Memory after a burst

// When the open connections fall to a quarter of a peak of at least this many, the memory their
// burst took is given back to the system once things are quiet for kQuietBeforeTrim.
inline constexpr std::size_t kBurstConnections = 256;
inline constexpr std::chrono::milliseconds kQuietBeforeTrim{1000};

}  // namespace relaydash::limits
