#include "cli/tokenizer.hpp"

#include "cli/keys.hpp"

namespace relaydash {
namespace {

bool isOperatorChar(char c) {
  return kOperatorChars.find(c) != std::string_view::npos;
}
bool isSeparatorChar(char c) {
  return kSeparatorChars.find(c) != std::string_view::npos;
}

// A short key is one character; a multi-byte one is kept whole so that messages quote it intact.
std::size_t characterLength(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  if (static_cast<unsigned char>(text[at]) >= 0xC0) {
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      ++end;
  }
  return end - at;
}

}  // namespace

std::optional<Token> Tokenizer::next() {
  if (!bundle_.empty()) return shortOption(bundle_, bundleAt_);
  while (index_ < args_.size()) {
    const std::string_view argument = args_[index_++];
    if (afterEndOfOptions_ || argument.size() < 2 || argument[0] != '-') {
      return Token{.kind = TokenKind::NonOption, .argument = argument};
    }
    if (argument == kEndOfOptions) {
      afterEndOfOptions_ = true;
      continue;
    }
    if (argument[1] == '-') return longOption(argument);
    return shortOption(argument, 1);
  }
  return std::nullopt;
}

Token Tokenizer::longOption(std::string_view argument) {
  const std::string_view text = argument.substr(2);
  Token token{.kind = TokenKind::LongOption, .key = text, .argument = argument};
  const std::size_t separator = text.find_first_of(kSeparatorChars);
  if (separator != std::string_view::npos && separator > 0) {
    // The key's first character always stays with the key, even when it is an operator character.
    std::size_t opStart = separator;
    while (opStart > 1 && isOperatorChar(text[opStart - 1]))
      --opStart;
    token.key = text.substr(0, opStart);
    token.op = text.substr(opStart, separator + 1 - opStart);
    token.value = text.substr(separator + 1);
    return token;
  }
  const LongKeyResolution resolved = resolveLongKey(table_, token.key);
  if (resolved.match != KeyMatch::Found || takesValue(*resolved.row)) {
    token.value = takeFollowingArgument();
  }
  return token;
}

Token Tokenizer::shortOption(std::string_view argument, std::size_t at) {
  bundle_ = {};
  const std::size_t keyEnd = at + characterLength(argument, at);
  Token token{.kind = TokenKind::ShortOption,
              .key = argument.substr(at, keyEnd - at),
              .argument = argument};
  std::size_t opEnd = keyEnd;
  while (opEnd < argument.size() && isOperatorChar(argument[opEnd]))
    ++opEnd;
  if (opEnd < argument.size() && isSeparatorChar(argument[opEnd])) {
    token.op = argument.substr(keyEnd, opEnd + 1 - keyEnd);
    token.value = argument.substr(opEnd + 1);
    return token;
  }
  const OptionRow* row = findShortKey(table_, token.key);
  if (row != nullptr && !takesValue(*row)) {
    // A switch leaves the rest of the argument to further short keys (-hl...).
    if (keyEnd < argument.size()) {
      bundle_ = argument;
      bundleAt_ = keyEnd;
    }
    return token;
  }
  token.value = keyEnd < argument.size() ? argument.substr(keyEnd) : takeFollowingArgument();
  return token;
}

std::string_view Tokenizer::takeFollowingArgument() {
  return index_ < args_.size() ? args_[index_++] : std::string_view{};
}

}  // namespace relaydash
