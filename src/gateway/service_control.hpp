#pragma once

#include <stdexcept>
#include <string>

#include "runtime/task.hpp"

namespace relaydash {

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

 private:
  std::string command_;
  int exitCode_;
  std::string output_;
};

// Runs the command line through the system shell, as system() does (the server's standard input,
// output and error and its environment inherited), and completes when the shell has ended. The
// event loop serves other requests meanwhile. Raises ExecError unless the status is 0.
Task<void> run(std::string commandLine);

// "systemctl VERB " followed by the unit name, appended unchanged: the name is not quoted, so
// the shell splits it at blanks. Raise ExecError.
Task<void> restart(std::string unit);
Task<void> start(std::string unit);
Task<void> enable(std::string unit);
Task<void> stop(std::string unit);
Task<void> disable(std::string unit);

}  // namespace relaydash
