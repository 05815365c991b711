#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/own_program.hpp"

namespace relaydash::testing {

// One of this build's programs run by a test (through the emulator in a cross build), with its
// standard output and error captured. Killed (SIGKILL) when the object goes away if it is still
// running. A non-zero openFiles is its RLIMIT_NOFILE.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& workingDirectory = ".", rlim_t openFiles = 0) {
    const std::vector<std::string> command = ownProgramCommand(program, args);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      if (::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
      // With a limit, only the standard descriptors are passed on (as a service manager
      // does), so that the limit is what the program itself may open.
      const rlimit limit{openFiles, openFiles};
      if (openFiles != 0 &&
          (::close_range(3, ~0U, 0) != 0 || ::setrlimit(RLIMIT_NOFILE, &limit) != 0)) {
        ::_exit(126);
      }
      std::vector<char*> argv;
      for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (!status_) {
      ::kill(pid_, SIGKILL);
      int s = 0;
      ::waitpid(pid_, &s, 0);
    }
    ::close(out_);
    ::close(err_);
  }

  // The next line of standard output (without its newline), or nullopt when none came in time.
  std::optional<std::string> readLine(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (const auto nl = stdout_.find('\n'); nl != std::string::npos) {
        std::string line = stdout_.substr(0, nl);
        stdout_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !readInto(out_, stdout_, left)) return std::nullopt;
    }
  }

  // Waits for the exit status (the signal number plus 128 when killed by one).
  std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!status_) {
      int s = 0;
      const pid_t done = ::waitpid(pid_, &s, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      ::usleep(10'000);
    }
    drain(out_, stdout_);
    drain(err_, stderr_);
    return status_;
  }

  void kill(int signal = SIGKILL) {
    if (!status_) ::kill(pid_, signal);
    wait();
  }

  pid_t pid() const noexcept { return pid_; }

  // What the program wrote so far (after wait(): everything).
  const std::string& standardOutput() const noexcept { return stdout_; }
  const std::string& standardError() const noexcept { return stderr_; }

 private:
  static bool readInto(int fd, std::string& into, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
  static void drain(int fd, std::string& into) {
    while (readInto(fd, into, std::chrono::milliseconds(0))) {
    }
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::string stdout_, stderr_;
  std::optional<int> status_;
};

}  // namespace relaydash::testing
