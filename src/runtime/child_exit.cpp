#include "runtime/child_exit.hpp"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "runtime/os_error.hpp"

// Older C library headers lack the number; it is the same on every architecture.
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace relaydash {
namespace {

constexpr std::chrono::milliseconds kLongestPollInterval{200};

// Atomic: tests set it on one thread and start children on another.
std::atomic<ChildExitNotice> noticeKind{ChildExitNotice::Automatic};
// Set once a kernel has said it has no pidfd_open.
std::atomic<bool> noPidfd{false};

FileDescriptor openPidfd(pid_t pid) {
  if (noticeKind.load() != ChildExitNotice::Automatic || noPidfd.load()) return {};
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    // pidfd_open gives close-on-exec descriptors; reads never happen on it, but epoll needs
    // nothing more.
    return FileDescriptor(static_cast<int>(fd));
  }
  if (errno == ENOSYS) noPidfd.store(true);
  return {};
}

// SIGCHLD blocked in this thread, and a descriptor that reads it.
FileDescriptor openSignalFd() {
  sigset_t chld;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  // Children are started with an empty mask, so this never reaches them.
  if (::pthread_sigmask(SIG_BLOCK, &chld, nullptr) != 0) raiseOSError();
  FileDescriptor fd(::signalfd(-1, &chld, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!fd) raiseOSError();
  return fd;
}

FileDescriptor openExitDescriptor(pid_t pid, bool& polling) {
  if (FileDescriptor fd = openPidfd(pid)) {
    polling = false;
    return fd;
  }
  polling = true;
  return openSignalFd();
}

}  // namespace

void setChildExitNotice(ChildExitNotice notice) noexcept {
  noticeKind.store(notice);
}

int shellStatus(int waitStatus) noexcept {
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  return -1;
}

ChildExit::ChildExit(pid_t pid) : pid_(pid), socket_(openExitDescriptor(pid, polling_)) {}

std::optional<std::chrono::milliseconds> ChildExit::pollInterval() noexcept {
  if (!polling_) return std::nullopt;
  const auto now = interval_;
  interval_ = std::min(interval_ * 2, kLongestPollInterval);
  return now;
}

bool ChildExit::reap() noexcept {
  if (reaped_) return true;
  if (polling_) {
    // Empties the signalfd so that the next SIGCHLD is an event again. The signal says some
    // child ended, not which: each watcher checks its own.
    signalfd_siginfo info;
    while (::read(socket_.fd(), &info, sizeof info) > 0) {
    }
  }
  int waitStatus = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &waitStatus, WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return false;
  reaped_ = true;
  status_ = done == pid_ ? shellStatus(waitStatus) : -1;
  return true;
}

}  // namespace relaydash
