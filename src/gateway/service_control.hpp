#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "runtime/task.hpp"

namespace relaydash {

// How long a systemctl command may take before it is stopped: a restart of a unit that hangs in
// its start-up must not hold up everything that waits for it.
inline constexpr std::chrono::milliseconds kSystemctlTimeout{120'000};

// A command that ended with a status other than 0. The message is "Non-zero exit code".
class ExecError : public std::runtime_error {
 public:
  ExecError(std::string command, int exitCode, std::string output = {});

  // The whole command line as it was handed to the shell.
  const std::string& command() const noexcept { return command_; }
  // The status as a shell reports it: -1 when no shell could be run, 128 plus the signal number
  // when the shell was killed, otherwise its exit status.
  int exitCode() const noexcept { return exitCode_; }
  // Always empty: the command writes to the server's own standard output and error.
  const std::string& output() const noexcept { return output_; }

 protected:
  ExecError(std::string command, int exitCode, const std::string& message, std::string output);

 private:
  std::string command_;
  int exitCode_;
  std::string output_;
};

// A command that was still running when its time limit passed, and was killed with what it had
// started (exitCode() 137). The message says so, followed by "; " and the note when there is one:
// "systemctl restart packet-forwarder did not finish within 120 s and was stopped".
class CommandTimedOut : public ExecError {
 public:
  CommandTimedOut(std::string command, std::chrono::milliseconds timeLimit,
                  std::string_view note = {});

  std::chrono::milliseconds timeLimit() const noexcept { return timeLimit_; }

  // The same error with a note on what had been done before the command, for whoever reads the
  // message ("the configuration file was written").
  CommandTimedOut noting(std::string_view note) const;

 private:
  std::chrono::milliseconds timeLimit_;
};

// Runs the command line through the system shell, as system() does (the server's standard input,
// output and error and its environment inherited), and completes when the shell has ended. The
// event loop serves other requests meanwhile. Raises ExecError unless the status is 0, and
// CommandTimedOut once timeLimit has passed (the shell and what it started are killed then).
Task<void> run(std::string commandLine, std::chrono::milliseconds timeLimit = kSystemctlTimeout);

// "systemctl VERB " followed by the unit name, appended unchanged: the name is not quoted, so
// the shell splits it at blanks. Raise ExecError, or CommandTimedOut after kSystemctlTimeout (or
// as many milliseconds as RELAYDASH_SYSTEMCTL_TIMEOUT_MS in the server's environment says, a
// positive whole number, read at each call).
Task<void> restart(std::string unit);
Task<void> start(std::string unit);
Task<void> enable(std::string unit);
Task<void> stop(std::string unit);
Task<void> disable(std::string unit);

// How many of those systemctl commands have ended so far, however they ended: what was read of
// the units before the last of them may be out of date.
std::uint64_t unitChanges() noexcept;

}  // namespace relaydash
