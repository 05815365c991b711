#include "gateway/command.hpp"

#include <cstring>
#include <utility>

namespace relaydash {
namespace {

// The first line of what the tool said, cut to a length that fits a message.
std::string firstLine(const std::string& text) {
  constexpr std::size_t kMaxLength = 200;
  std::size_t start = 0;
  while (start < text.size() && (text[start] == '\n' || text[start] == ' '))
    ++start;
  std::string line = text.substr(start, std::min(text.find('\n', start), text.size()) - start);
  if (line.size() > kMaxLength) line = line.substr(0, kMaxLength) + "…";
  return line;
}

}  // namespace

CommandError::CommandError(std::string message, ProcessResult result)
    : std::runtime_error(std::move(message)), result_(std::move(result)) {}

std::string describeFailure(const std::string& program, const ProcessResult& result,
                            const ProcessLimits& limits) {
  if (!result.started()) return program + " could not be run: " + std::strerror(result.startError);
  if (result.timedOut) {
    const auto ms = limits.timeout.count();
    return program + " did not finish within " +
           (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
  }
  std::string message = program + " failed with status " + std::to_string(result.status);
  if (const std::string said = firstLine(result.errorOutput); !said.empty()) message += ": " + said;
  return message;
}

Task<ProcessResult> runTool(std::vector<std::string> argv, ProcessLimits limits) {
  const std::string program = argv.at(0);
  ProcessResult result = co_await runProcess(std::move(argv), limits);
  if (!result.started() || result.timedOut || result.status != 0) {
    std::string message = describeFailure(program, result, limits);
    throw CommandError(std::move(message), std::move(result));
  }
  co_return result;
}

}  // namespace relaydash
