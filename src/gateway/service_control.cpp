#include "gateway/service_control.hpp"

#include <string_view>
#include <utility>

#include "runtime/process.hpp"

namespace relaydash {
namespace {

Task<void> systemctl(std::string_view verb, std::string unit) {
  std::string commandLine = "systemctl ";
  commandLine.append(verb).append(" ").append(unit);
  co_await run(std::move(commandLine));
}

}  // namespace

ExecError::ExecError(std::string command, int exitCode, std::string output)
    : std::runtime_error("Non-zero exit code"),
      command_(std::move(command)),
      exitCode_(exitCode),
      output_(std::move(output)) {}

Task<void> run(std::string commandLine) {
  // The status a shell would report in $?, so operators see the familiar 137 for a kill -9.
  const int exitCode = co_await runShellCommand(commandLine);
  if (exitCode != 0) throw ExecError(std::move(commandLine), exitCode);
}

Task<void> restart(std::string unit) {
  co_await systemctl("restart", std::move(unit));
}
Task<void> start(std::string unit) {
  co_await systemctl("start", std::move(unit));
}
Task<void> enable(std::string unit) {
  co_await systemctl("enable", std::move(unit));
}
Task<void> stop(std::string unit) {
  co_await systemctl("stop", std::move(unit));
}
Task<void> disable(std::string unit) {
  co_await systemctl("disable", std::move(unit));
}

}  // namespace relaydash
