#include "runtime/process.hpp"

#include <signal.h>
#include <spawn.h>
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

extern char** environ;

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

// Hands what the pipe holds to the sink. True at end of file, on an error, or once the sink
// wants no more (which sets `stopped`).
bool drainInto(int fd, const OutputSink& sink, bool& stopped) {
  for (;;) {
    std::array<char, kChunk> chunk;
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno != EAGAIN && errno != EWOULDBLOCK;
    }
    if (!sink(std::string_view(chunk.data(), static_cast<std::size_t>(n)))) {
      stopped = true;
      return true;
    }
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

void check(int error) {
  if (error != 0) throw OSError(error);
}

struct SpawnActions {
  posix_spawn_file_actions_t value;
  SpawnActions() { check(::posix_spawn_file_actions_init(&value)); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&value); }
};

struct SpawnAttributes {
  posix_spawnattr_t value;
  SpawnAttributes() { check(::posix_spawnattr_init(&value)); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&value); }
};

// Starts "/bin/sh -c commandLine" as spawnShell does (our standard descriptors and environment
// inherited, no other descriptor of ours, no signal blocked), but as the leader of a process
// group of its own, made before the shell runs, so that killing the group reaches whatever the
// shell started. nullopt when /bin/sh cannot be run; raises OSError when no process can be made.
std::optional<pid_t> spawnShellInItsOwnGroup(const std::string& commandLine) {
  SpawnActions actions;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  check(::posix_spawn_file_actions_addclosefrom_np(&actions.value, STDERR_FILENO + 1));
#endif
  SpawnAttributes attributes;
  // The loop blocks SIGCHLD where it reads it from a signalfd, and a blocked mask survives exec.
  sigset_t none;
  sigemptyset(&none);
  check(::posix_spawnattr_setsigmask(&attributes.value, &none));
  check(::posix_spawnattr_setpgroup(&attributes.value, 0));
  check(::posix_spawnattr_setflags(&attributes.value,
                                   POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP));
  std::string shell = "sh";
  std::string option = "-c";
  std::string command = commandLine;
  char* argv[] = {shell.data(), option.data(), command.data(), nullptr};
  pid_t pid = -1;
  const int error =
      ::posix_spawn(&pid, "/bin/sh", &actions.value, &attributes.value, argv, environ);
  if (error == 0) return pid;
  if (error == ENOENT || error == EACCES || error == ENOEXEC) return std::nullopt;
  throw OSError(error);
}

// Collects what a started child writes until it has ended and its output is closed, as
// runProcess describes. `name` names it in a failure.
Task<ProcessResult> collect(SpawnedProgram child, Alarm& alarm, const std::string& name,
                            ProcessLimits limits, OutputSink sink);

}  // namespace

Task<ProcessResult> runProcess(std::vector<std::string> argv, ProcessLimits limits,
                               OutputSink sink) {
  if (argv.empty()) throw std::invalid_argument("runProcess needs a program to run");
  const std::string path = searchPath();
  const std::string program = findProgram(argv[0], path);
  if (program.empty()) co_return notStarted(argv[0], errno);
  // Every descriptor the run needs is made before the program starts, but the exit notice,
  // which needs the child: one that cannot be made (the process is out of descriptors) stops
  // the program, and the run reports it as a program that could not be started.
  std::optional<Alarm> alarm;
  SpawnedProgram child;
  try {
    alarm.emplace();
    child = spawnProgram(program, argv, {"PATH=" + path, "LANG=C"});
  } catch (const OSError& e) {
    co_return notStarted(argv[0], e.errorCode());
  }
  co_return co_await collect(std::move(child), *alarm, argv[0], limits, std::move(sink));
}

Task<ProcessResult> runForked(std::function<std::string()> work, ProcessLimits limits) {
  std::optional<Alarm> alarm;
  SpawnedProgram child;
  try {
    alarm.emplace();
    child = forkWork(work);
  } catch (const OSError& e) {
    co_return notStarted("fork", e.errorCode());
  }
  co_return co_await collect(std::move(child), *alarm, "fork", limits, {});
}

namespace {

Task<ProcessResult> collect(SpawnedProgram child, Alarm& alarm, const std::string& name,
                            ProcessLimits limits, OutputSink sink) {
  ChildGuard guard(child.pid, true);
  std::optional<ChildExit> watched;
  try {
    watched.emplace(child.pid);
  } catch (const OSError& e) {
    co_return notStarted(name, e.errorCode());
  }
  ChildExit& exit = *watched;
  Socket out(std::move(child.output));
  Socket err(std::move(child.errorOutput));

  ProcessResult result;
  const auto deadline = Clock::now() + limits.timeout;
  Clock::time_point stopReading{};
  for (;;) {
    if (!out.closed()) {
      const bool ended =
          sink ? drainInto(out.fd(), sink, result.stopped)
               : drain(out.fd(), result.output, limits.maxOutput, result.droppedBytes);
      // Killed before its output closes: a program writing on would otherwise die of SIGPIPE
      // first, or not, as the scheduler has it.
      if (ended && result.stopped && !exit.reaped()) killGroup(child.pid);
      if (ended) out.close();
    }
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

}  // namespace

Task<ShellResult> runShellCommand(std::string commandLine,
                                  std::optional<std::chrono::milliseconds> timeLimit) {
  std::optional<pid_t> pid;
  try {
    pid = spawnShellInItsOwnGroup(commandLine);
  } catch (const OSError&) {
    co_return ShellResult{.status = -1};
  }
  if (!pid) co_return ShellResult{.status = 127};
  ChildGuard guard(*pid, false);
  ChildExit exit(*pid);
  std::optional<Alarm> alarm;
  std::optional<Clock::time_point> deadline;
  if (timeLimit) deadline = Clock::now() + *timeLimit;
  bool killed = false;
  while (!exit.reap()) {
    const auto now = Clock::now();
    if (deadline && !killed && now >= *deadline) {
      killGroup(*pid);
      killed = true;
    }
    std::optional<Clock::time_point> wake;
    if (deadline) wake = killed ? now + kAfterKill : *deadline;
    if (const auto poll = exit.pollInterval())
      wake = std::min(wake.value_or(now + *poll), now + *poll);
    if (!wake) {
      std::array<Socket*, 1> sockets{&exit.socket()};
      co_await ReadableAny(sockets);
      continue;
    }
    if (!alarm) alarm.emplace();
    alarm->set(*wake);
    std::array<Socket*, 2> sockets{&exit.socket(), &alarm->socket()};
    co_await ReadableAny(sockets);
  }
  guard.reaped();
  // A shell that ended by itself just as the limit passed keeps its own status.
  co_return ShellResult{.status = exit.status(),
                        .timedOut = killed && exit.status() == 128 + SIGKILL};
}

}  // namespace relaydash
