#include "service_control.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <utility>

namespace relaydash {
namespace {

void systemctl(std::string_view verb, std::string_view unit) {
  std::string commandLine = "systemctl ";
  commandLine.append(verb).append(" ").append(unit);
  run(commandLine);
}

}  // namespace

ExecError::ExecError(std::string command, int exitCode, std::string output)
    : std::runtime_error("Non-zero exit code"),
      command_(std::move(command)),
      exitCode_(exitCode),
      output_(std::move(output)) {}

void run(const std::string& commandLine) {
  const int status = std::system(commandLine.c_str());
  int exitCode = -1;
  if (status != -1) {
    // The status a shell would report in $?, so operators see the familiar 137 for a kill -9.
    exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
  if (exitCode != 0) throw ExecError(commandLine, exitCode);
}

void restart(std::string_view unit) {
  systemctl("restart", unit);
}
void start(std::string_view unit) {
  systemctl("start", unit);
}
void enable(std::string_view unit) {
  systemctl("enable", unit);
}
void stop(std::string_view unit) {
  systemctl("stop", unit);
}
void disable(std::string_view unit) {
  systemctl("disable", unit);
}

}  // namespace relaydash
