#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/child_exit.hpp"
#include "runtime/task.hpp"

namespace relaydash {

struct ProcessLimits {
  // Bytes kept of standard output, and as many of standard error; the rest is read, counted
  // and dropped, so the program never stalls on a full pipe.
  std::size_t maxOutput = std::size_t{1} << 20;
  // After this long the program and its process group are killed (SIGKILL).
  std::chrono::milliseconds timeout{10'000};
};

struct ProcessResult {
  // As a shell reports it: the exit code, or 128 plus the number of the signal that ended the
  // program (137 after a timeout); -1 when it could not be started.
  int status = -1;
  std::string output;
  std::string errorOutput;
  bool timedOut = false;
  // Whether output was dropped beyond maxOutput, and how many bytes of both streams were.
  bool truncated = false;
  std::size_t droppedBytes = 0;
  // The error number when the program could not be started (ENOENT, EACCES, EMFILE, ...);
  // errorOutput then says why in words. 0 when it ran.
  int startError = 0;
  // Whether the output sink wanted no more and the program was killed for it (status 137).
  bool stopped = false;

  bool started() const noexcept { return startError == 0; }
};

// Runs a program and collects what it writes, on the event loop: the loop serves everything else
// meanwhile. argv[0] names the program, looked up in our PATH unless it holds a "/"; the
// arguments are passed as they are, never through a shell. The program gets standard input from
// /dev/null, an environment of PATH (ours) and LANG=C alone, none of our descriptors, and a
// process group of its own. The task completes once the program has ended and been reaped and
// its output pipes are closed; output still held open by something it left behind is waited for
// a fifth of a second, then that process group is killed. A timeout kills the process group.
// The child is always reaped: a task destroyed before the end kills it and waits for it.
// Raises std::invalid_argument for an empty argv, and OSError when the descriptors to watch the
// started program cannot be made (it is then killed and reaped); a program that cannot be
// started is reported in the result.
// With an output sink, standard output is handed to it piece by piece as it comes instead of
// being kept (maxOutput then bounds standard error alone): a program may write more than could be
// held. The sink answers false when it wants no more; the program and its process group are then
// killed, and the result says `stopped`.
using OutputSink = std::function<bool(std::string_view)>;
Task<ProcessResult> runProcess(std::vector<std::string> argv, ProcessLimits limits = {},
                               OutputSink sink = {});

// Runs `work` in a child made by fork (forkWork) and collects its output as runProcess does:
// the result's output is what the work returned, status 1 and errorOutput its exception's
// message when it threw. For work whose lasting costs this process should not carry.
Task<ProcessResult> runForked(std::function<std::string()> work, ProcessLimits limits = {});

// How a shell command ended.
struct ShellResult {
  // As system() gives it and a shell reports it: the exit code, 128 plus the signal's number
  // when the shell was killed (137 after a time limit passed), 127 when no shell could be run,
  // -1 when no process could be made.
  int status = -1;
  // Whether the time limit passed and the shell was killed with everything it started.
  bool timedOut = false;
};

// Runs a command line through the system shell as the C library's system() would ("/bin/sh -c",
// the server's standard input, output and error and environment inherited), but awaits it on
// the event loop. The shell runs in a process group of its own; once timeLimit (if any) has
// passed, that group (the shell and whatever it started that stayed in it, such as systemctl) is
// killed with SIGKILL and the shell reaped, and the result says it timed out. A command that
// ends in time may leave things running in the background, as with system(). A task destroyed
// before the shell ends (the loop going away) leaves it to finish on its own.
Task<ShellResult> runShellCommand(std::string commandLine,
                                  std::optional<std::chrono::milliseconds> timeLimit = {});

}  // namespace relaydash
