// Splits arbitrary bytes at NUL into an argument list and parses it as the command line. The
// parser must give an outcome for every list — never raise — and a run never carries text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "cli/command_line.hpp"

using namespace relaydash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the terminal width, so narrow help layouts are reached too.
  const int width = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string_view> args;
  for (std::size_t start = 0; start <= rest.size() && args.size() < 64;) {
    const std::size_t end = std::min(rest.find('\0', start), rest.size());
    args.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  const ParseResult result = parseCommandLine(args, width);
  if (result.outcome == Outcome::Run && !result.text.empty()) std::abort();
  if (result.outcome == Outcome::ParseError && (!result.toStderr || result.text.empty()))
    std::abort();
  return 0;
}
