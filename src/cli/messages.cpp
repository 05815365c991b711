#include "cli/messages.hpp"

#include "cli/help.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kRunWithHelp = "Run with --help for full usage.\n";

std::string quoted(std::string_view text) {
  return std::string("\"").append(text).append("\"");
}

}  // namespace

std::string unknownLongOptionMessage(std::string_view key,
                                     std::span<const std::string_view> suggestions) {
  std::string message = "Unknown long option: " + quoted(key) + "\n\n";
  if (!suggestions.empty()) {
    message += "Maybe you meant one of:\n\t";
    for (std::size_t i = 0; i < suggestions.size(); ++i) {
      if (i > 0) message += ' ';
      message.append(suggestions[i]);
    }
    message += "\n\n";
  }
  return message.append(kRunWithHelp);
}

std::string unknownShortOptionMessage(std::string_view key) {
  return "Unknown short option: " + quoted(key) + "\n\n" + std::string(kRunWithHelp);
}

std::string ambiguousPrefixMessage(std::string_view key,
                                   std::span<const OptionRow* const> candidates) {
  std::string message = "Ambiguous long option prefix " + quoted(key) + " matches:\n  ";
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0) message += "\n  ";
    message.append(candidates[i]->longName);
  }
  return message.append(" \nRun with --help for more details.\n");
}

std::string badIntegerMessage(std::string_view value, std::string_view key, std::string_view help) {
  return "Bad value: " + quoted(value) + " for option " + quoted(key) + "; expecting int\n" +
         std::string(help);
}

std::string integerOutOfRangeMessage(std::string_view value, std::string_view key,
                                     std::string_view help) {
  return "Bad value: " + quoted(value) + " for option " + quoted(key) + "; out of range for int\n" +
         std::string(help);
}

std::string badStringOperatorMessage(std::string_view op, std::string_view key) {
  return "Bad operator (" + quoted(op) + ") for strings, param " + std::string(key) + "\n";
}

std::string nonOptionMessage(std::string_view argument) {
  return std::string(kCommandName) + " does not expect non-option arguments at " +
         quoted(argument) + ".\n" + std::string(kRunWithHelp);
}

}  // namespace relaydash
