#include "cli/command_line.hpp"

#include <cstdio>
#include <vector>

#include "cli/cheat_sheet.hpp"
#include "cli/help.hpp"
#include "cli/keys.hpp"
#include "cli/messages.hpp"
#include "cli/suggest.hpp"
#include "cli/terminal.hpp"
#include "cli/tokenizer.hpp"
#include "cli/values.hpp"

namespace relaydash {
namespace {

ParseResult stop(Outcome outcome, std::string text) {
  return {.outcome = outcome, .text = std::move(text), .toStderr = outcome == Outcome::ParseError};
}

ParseResult failure(std::string text) {
  return stop(Outcome::ParseError, std::move(text));
}

// The option a token names, or else the message of the error that ends parsing.
struct Lookup {
  const OptionRow* row = nullptr;
  std::string error = {};
};

Lookup lookUp(std::span<const OptionRow> table, const Token& token) {
  if (token.kind == TokenKind::ShortOption) {
    const OptionRow* row = findShortKey(table, token.key);
    if (row == nullptr) return {.error = unknownShortOptionMessage(token.key)};
    return {.row = row};
  }
  const LongKeyResolution resolved = resolveLongKey(table, token.key);
  switch (resolved.match) {
    case KeyMatch::Found:
      return {.row = resolved.row};
    case KeyMatch::Ambiguous:
      return {.error = ambiguousPrefixMessage(token.key, resolved.candidates)};
    case KeyMatch::Unknown:
      break;
  }
  return {.error = unknownLongOptionMessage(token.key, suggestLongNames(table, token.key))};
}

}  // namespace

ParseResult parseCommandLine(std::span<const std::string_view> args, int terminalWidth,
                             std::span<const OptionRow> table) {
  // The help always shows the defaults, never what the same command line has set.
  const std::string help = composeHelp(table, terminalWidth);
  ParseResult result{.options = defaultStartupOptions(table)};
  Tokenizer tokens(args, table);
  while (const std::optional<Token> token = tokens.next()) {
    if (token->kind == TokenKind::NonOption) return failure(nonOptionMessage(token->argument));
    const Lookup found = lookUp(table, *token);
    if (found.row == nullptr) return failure(found.error);
    const OptionRow* row = found.row;
    switch (row->kind) {
      case OptionKind::Help:
        return stop(Outcome::HelpOnly, help);
      case OptionKind::HelpSyntax:
        return stop(Outcome::HelpOnly, std::string(kCheatSheet));
      case OptionKind::Version:
        return stop(Outcome::VersionOnly, std::string(kVersionLine));
      case OptionKind::Text:
        if (!applyStringOperator(result.options.*row->text, token->op, token->value)) {
          return failure(badStringOperatorMessage(token->op, token->key));
        }
        break;
      case OptionKind::Integer: {
        // Numbers have no update operators; whatever operator was typed, the value replaces.
        const IntegerValue number = parseInteger(token->value);
        if (number.status == IntegerStatus::Malformed) {
          return failure(badIntegerMessage(token->value, token->key, help));
        }
        if (number.status == IntegerStatus::OutOfRange) {
          return failure(integerOutOfRangeMessage(token->value, token->key, help));
        }
        result.options.*row->integer = number.value;
        break;
      }
    }
  }
  return result;
}

int dispatchCommandLine(int argc, char** argv,
                        const std::function<void(const StartupOptions&)>& relaydash) {
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParseResult result = parseCommandLine(args, terminalWidth());
  if (result.outcome == Outcome::Run) {
    relaydash(result.options);
    return 0;
  }
  std::FILE* stream = result.toStderr ? stderr : stdout;
  std::fwrite(result.text.data(), 1, result.text.size(), stream);
  std::fflush(stream);
  return result.exitStatus();
}

}  // namespace relaydash
