#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace relaydash::testing {

// The command line that starts `program`, one of this build's own programs, with `args`. In a
// cross build the kernel cannot run it (there is no binfmt_misc to hand it to qemu), so the
// emulator that runs the tests themselves comes first: RELAYDASH_TEST_EMULATOR, its words
// separated by spaces, empty in a native build.
inline std::vector<std::string> ownProgramCommand(const std::string& program,
                                                  const std::vector<std::string>& args) {
  std::vector<std::string> command;
  std::string_view emulator = RELAYDASH_TEST_EMULATOR;
  while (!emulator.empty()) {
    const auto space = emulator.find(' ');
    if (space != 0) command.emplace_back(emulator.substr(0, space));
    if (space == std::string_view::npos) break;
    emulator.remove_prefix(space + 1);
  }
  command.push_back(program);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

}  // namespace relaydash::testing
