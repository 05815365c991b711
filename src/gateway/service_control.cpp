#include "gateway/service_control.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/environment.hpp"
#include "runtime/process.hpp"

namespace relaydash {
namespace {

// kSystemctlTimeout, unless the environment sets another limit for tests or an operator.
std::chrono::milliseconds systemctlTimeLimit() {
  return millisecondsFromEnvironment("RELAYDASH_SYSTEMCTL_TIMEOUT_MS").value_or(kSystemctlTimeout);
}

std::uint64_t unitChangesMade = 0;

Task<void> systemctl(std::string_view verb, std::string unit) {
  std::string commandLine = "systemctl ";
  commandLine.append(verb).append(" ").append(unit);
  // Counted once the command has ended, however it ended: a read of the units that began
  // before then may not show what it did.
  struct Counted {
    ~Counted() { ++unitChangesMade; }
  } counted;
  co_await run(std::move(commandLine), systemctlTimeLimit());
}

// "120 s", or "250 ms" for a limit that is no whole number of seconds.
std::string describe(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

std::string timedOutMessage(const std::string& command, std::chrono::milliseconds limit,
                            std::string_view note) {
  std::string message = command + " did not finish within " + describe(limit) + " and was stopped";
  if (!note.empty()) message.append("; ").append(note);
  return message;
}

}  // namespace

ExecError::ExecError(std::string command, int exitCode, std::string output)
    : ExecError(std::move(command), exitCode, "Non-zero exit code", std::move(output)) {}

ExecError::ExecError(std::string command, int exitCode, const std::string& message,
                     std::string output)
    : std::runtime_error(message),
      command_(std::move(command)),
      exitCode_(exitCode),
      output_(std::move(output)) {}

CommandTimedOut::CommandTimedOut(std::string command, std::chrono::milliseconds timeLimit,
                                 std::string_view note)
    : ExecError(command, 137, timedOutMessage(command, timeLimit, note), {}),
      timeLimit_(timeLimit) {}

CommandTimedOut CommandTimedOut::noting(std::string_view note) const {
  return CommandTimedOut(command(), timeLimit_, note);
}

Task<void> run(std::string commandLine, std::chrono::milliseconds timeLimit) {
  const ShellResult result = co_await runShellCommand(commandLine, timeLimit);
  if (result.timedOut) throw CommandTimedOut(std::move(commandLine), timeLimit);
  // The status a shell would report in $?, so operators see the familiar 137 for a kill -9.
  if (result.status != 0) throw ExecError(std::move(commandLine), result.status);
}

std::uint64_t unitChanges() noexcept {
  return unitChangesMade;
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
