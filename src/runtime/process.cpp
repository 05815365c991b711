#include "runtime/process.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "runtime/alarm.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/os_error.hpp"
#include "runtime/spawn.hpp"
#include "runtime/wait_any.hpp"

namespace relaydash {
namespace {

using Clock = EventLoop::Clock;
using namespace std::chrono_literals;

// Where a program is looked for when the server itself has no PATH.
constexpr const char* kDefaultPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
// How long output is still read after the program ended, from whatever it left running.
constexpr auto kAfterExit = 200ms;
// Between two checks of a killed program that has not been reaped yet.
constexpr auto kAfterKill = 1s;
constexpr std::size_t kChunk = 16 * 1024;

// Reaps a child its task no longer waits for. A program run by runProcess is killed with its
// process group first; a shell command is only reaped if it has already ended.
class ChildGuard {
 public:
  ChildGuard(pid_t pid, bool kill) : pid_(pid), kill_(kill) {}
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  ~ChildGuard() {
    if (pid_ <= 0) return;
    int status = 0;
    if (!kill_) {
      ::waitpid(pid_, &status, WNOHANG);
      return;
    }
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  void reaped() noexcept { pid_ = -1; }

 private:
  pid_t pid_;
  bool kill_;
};

// Reads what the pipe holds into `into`, keeping at most `cap` bytes there and counting the
// rest. True at end of file (or on an error, which ends the stream as well).
bool drain(int fd, std::string& into, std::size_t cap, std::size_t& dropped) {
  for (;;) {
    std::array<char, kChunk> chunk;
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno != EAGAIN && errno != EWOULDBLOCK;
    }
    const auto got = static_cast<std::size_t>(n);
    const std::size_t kept = into.size() < cap ? std::min(got, cap - into.size()) : 0;
    into.append(chunk.data(), kept);
    dropped += got - kept;
  }
}

void killGroup(pid_t pid) noexcept {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

std::string searchPath() {
  const char* path = std::getenv("PATH");
  return path && *path ? path : kDefaultPath;
}

ProcessResult notStarted(const std::string& program, int error) {
  ProcessResult result;
  result.startError = error;
  result.errorOutput = program + ": " + std::strerror(error);
  return result;
}

}  // namespace

Task<ProcessResult> runProcess(std::vector<std::string> argv, ProcessLimits limits) {
  if (argv.empty()) throw std::invalid_argument("runProcess needs a program to run");
  const std::string path = searchPath();
  const std::string program = findProgram(argv[0], path);
  if (program.empty()) co_return notStarted(argv[0], errno);
  SpawnedProgram child;
  try {
    child = spawnProgram(program, argv, {"PATH=" + path, "LANG=C"});
  } catch (const OSError& e) {
    co_return notStarted(argv[0], e.errorCode());
  }
  ChildGuard guard(child.pid, true);
  ChildExit exit(child.pid);
  Socket out(std::move(child.output));
  Socket err(std::move(child.errorOutput));
  Alarm alarm;

  ProcessResult result;
  const auto deadline = Clock::now() + limits.timeout;
  Clock::time_point stopReading{};
  for (;;) {
    if (!out.closed() && drain(out.fd(), result.output, limits.maxOutput, result.droppedBytes))
      out.close();
    if (!err.closed() && drain(err.fd(), result.errorOutput, limits.maxOutput, result.droppedBytes))
      err.close();
    const auto now = Clock::now();
    if (!exit.reaped() && exit.reap()) stopReading = now + kAfterExit;
    if (exit.reaped() && out.closed() && err.closed()) break;

    Clock::time_point wake;
    if (exit.reaped()) {
      if (now >= stopReading) {
        // Something the program started still holds its output open.
        killGroup(child.pid);
        break;
      }
      wake = stopReading;
    } else {
      if (!result.timedOut && now >= deadline) {
        killGroup(child.pid);
        result.timedOut = true;
      }
      wake = result.timedOut ? now + kAfterKill : deadline;
      if (const auto poll = exit.pollInterval()) wake = std::min(wake, now + *poll);
    }
    alarm.set(wake);

    std::array<Socket*, ReadableAny::kMaxSockets> sockets{};
    std::size_t count = 0;
    sockets[count++] = &alarm.socket();
    if (!exit.reaped()) sockets[count++] = &exit.socket();
    if (!out.closed()) sockets[count++] = &out;
    if (!err.closed()) sockets[count++] = &err;
    co_await ReadableAny(std::span<Socket* const>(sockets.data(), count));
  }
  guard.reaped();
  result.status = exit.status();
  result.truncated = result.droppedBytes > 0;
  co_return result;
}

Task<int> runShellCommand(std::string commandLine) {
  std::optional<pid_t> pid;
  try {
    pid = spawnShell(commandLine);
  } catch (const OSError&) {
    co_return -1;
  }
  if (!pid) co_return 127;
  ChildGuard guard(*pid, false);
  ChildExit exit(*pid);
  std::optional<Alarm> alarm;
  while (!exit.reap()) {
    const auto poll = exit.pollInterval();
    if (!poll) {
      std::array<Socket*, 1> sockets{&exit.socket()};
      co_await ReadableAny(sockets);
      continue;
    }
    if (!alarm) alarm.emplace();
    alarm->set(Clock::now() + *poll);
    std::array<Socket*, 2> sockets{&exit.socket(), &alarm->socket()};
    co_await ReadableAny(sockets);
  }
  guard.reaped();
  co_return exit.status();
}

}  // namespace relaydash
