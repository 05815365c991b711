#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "cli/options.hpp"
#include "cli/startup_options.hpp"

namespace relaydash {

enum class Outcome {
  Run,          // parsing succeeded: start the server with the options
  HelpOnly,     // the help text or the cheat sheet was asked for
  VersionOnly,  // the version line was asked for
  ParseError,   // the arguments were not understood
};

struct ParseResult {
  Outcome outcome = Outcome::Run;
  StartupOptions options = {};  // meaningful for Run only
  std::string text = {};        // printed as is when the outcome is not Run
  bool toStderr = false;

  // 0 for help, version and a run that returns; 1 for a parse error.
  int exitStatus() const { return outcome == Outcome::ParseError ? 1 : 0; }
};

// Reads the arguments (without the program name) from left to right and stops at the first
// help, version or error outcome. Pure: the terminal width only shapes the help text.
ParseResult parseCommandLine(std::span<const std::string_view> args, int terminalWidth,
                             std::span<const OptionRow> table = kOptionTable);

// The process's command-line scope: parses argv with the terminal's width and either calls
// `relaydash` with the options or prints the outcome's text to its stream. Returns the exit
// status: that of the outcome, or 0 once `relaydash` returns. Errors raised by `relaydash`
// pass through.
int dispatchCommandLine(int argc, char** argv,
                        const std::function<void(const StartupOptions&)>& relaydash);

}  // namespace relaydash
