#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace relaydash {

// Runs write in a child process that may make files of at most 16 bytes: a longer write is
// killed midway by SIGXFSZ, as relaydash is by a crash or SIGKILL, and leaves what such a kill
// leaves. Answers whether the child ended that way.
template <typename Write>
bool killedWhileWriting(Write write) {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const rlimit size{16, 16};
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &size);
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::signal(SIGXFSZ, SIG_DFL);
    try {
      write();
    } catch (...) {
    }
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
}

}  // namespace relaydash
