#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

#include "runtime/socket.hpp"

namespace relaydash {

// How the exit of a child process is noticed. Automatic takes a descriptor per child
// (pidfd_open, Linux 5.3 and later) and falls back to SignalOnly where the kernel has none.
// SignalOnly waits for SIGCHLD through a signalfd, which sees the signal only when every thread
// of the process blocks it; as that cannot be guaranteed (a library's thread, a test's), the
// child is also checked on a timer, so an exit is never missed, only noticed later.
enum class ChildExitNotice { Automatic, SignalOnly };

// For tests: the kind used for the children started from now on, in every thread.
void setChildExitNotice(ChildExitNotice notice) noexcept;

// Watches one child of ours until it is reaped. Made right after the child is started, on the
// thread whose loop waits for it.
class ChildExit {
 public:
  explicit ChildExit(pid_t pid);
  ChildExit(const ChildExit&) = delete;
  ChildExit& operator=(const ChildExit&) = delete;

  // Readable when the child may have exited: wait for it, then call reap().
  Socket& socket() noexcept { return socket_; }
  // When to check again even if the socket said nothing: nullopt when the socket alone is
  // enough. Grows from a few milliseconds to a fifth of a second.
  std::optional<std::chrono::milliseconds> pollInterval() noexcept;

  // Reaps the child if it has ended (without waiting): true once it has.
  bool reap() noexcept;
  bool reaped() const noexcept { return reaped_; }
  // The status as a shell reports it: the exit code, or 128 plus the signal's number; -1 when
  // the status was lost (the child was reaped elsewhere). Meaningful once reaped.
  int status() const noexcept { return status_; }

 private:
  pid_t pid_;
  Socket socket_;
  bool polling_;
  std::chrono::milliseconds interval_{5};
  bool reaped_ = false;
  int status_ = -1;
};

// The status a shell reports in $? for a wait status.
int shellStatus(int waitStatus) noexcept;

}  // namespace relaydash
