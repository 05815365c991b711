#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

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

// Runs the command line through the system shell and waits for it, blocking the whole process;
// it inherits the server's standard input, output and error. Raises ExecError unless the status
// is 0.
void run(const std::string& commandLine);

// "systemctl VERB " followed by the unit name, appended unchanged: the name is not quoted, so
// the shell splits it at blanks. Raise ExecError.
void restart(std::string_view unit);
void start(std::string_view unit);
void enable(std::string_view unit);
void stop(std::string_view unit);
void disable(std::string_view unit);

}  // namespace relaydash
