#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "cli/options.hpp"

namespace relaydash {

// Characters that may stand directly before the separator to update a value (--listen+=x).
inline constexpr std::string_view kOperatorChars = "#$%&*+,-./<>?@^|~";
// Characters that separate a key from its attached value.
inline constexpr std::string_view kSeparatorChars = ":=";
// After this argument every argument is a non-option argument.
inline constexpr std::string_view kEndOfOptions = "--";

enum class TokenKind { LongOption, ShortOption, NonOption };

struct Token {
  TokenKind kind = TokenKind::NonOption;
  // As typed: the long key without its dashes and operator, or the short key.
  std::string_view key = {};
  // The operator characters with the separator ("+=", ":"); empty when none was typed.
  std::string_view op = {};
  // The attached value, or the next argument for a key that takes one; empty at the end.
  std::string_view value = {};
  // The whole argument the token starts in.
  std::string_view argument = {};
};

// Splits the arguments into tokens one at a time, so that the caller can stop at the first
// outcome without looking further. Whether a key takes a value (and so may swallow the next
// argument) is decided by `table`. Views point into the caller's strings, which must outlive
// the tokens.
class Tokenizer {
 public:
  Tokenizer(std::span<const std::string_view> args, std::span<const OptionRow> table)
      : args_(args), table_(table) {}

  std::optional<Token> next();

 private:
  Token longOption(std::string_view argument);
  Token shortOption(std::string_view argument, std::size_t at);
  std::string_view takeFollowingArgument();

  std::span<const std::string_view> args_;
  std::span<const OptionRow> table_;
  std::size_t index_ = 0;
  bool afterEndOfOptions_ = false;
  std::string_view bundle_;  // an argument of short keys still being read
  std::size_t bundleAt_ = 0;
};

}  // namespace relaydash
