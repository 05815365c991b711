#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/process.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// A gateway tool (systemctl, journalctl, timedatectl) that could not be run, did not finish in
// time, or ended with a status other than 0. The message is meant for the operator: what was
// run and what went wrong, with the first line the tool wrote on standard error.
class CommandError : public std::runtime_error {
 public:
  CommandError(std::string message, ProcessResult result);

  const ProcessResult& result() const noexcept { return result_; }

 private:
  ProcessResult result_;
};

// Runs the tool through runProcess and answers its result when it ended with status 0; raises
// CommandError otherwise.
Task<ProcessResult> runTool(std::vector<std::string> argv, ProcessLimits limits = {});

// The message CommandError carries for a result that is not a success, e.g. "journalctl failed
// with status 1: Failed to seek to cursor: Invalid argument", "systemctl did not finish within
// 10 s", "timedatectl could not be run: No such file or directory".
std::string describeFailure(const std::string& program, const ProcessResult& result,
                            const ProcessLimits& limits);

}  // namespace relaydash
