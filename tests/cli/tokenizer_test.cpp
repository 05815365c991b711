#include "cli/tokenizer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace relaydash {
namespace {

// Each token as "L key|op|value" (long), "S key|op|value" (short) or "N argument".
std::vector<std::string> tokenize(const std::vector<std::string_view>& args) {
  std::vector<std::string> out;
  Tokenizer tokens(args, kOptionTable);
  while (const std::optional<Token> token = tokens.next()) {
    switch (token->kind) {
      case TokenKind::NonOption:
        out.push_back("N " + std::string(token->argument));
        break;
      case TokenKind::LongOption:
      case TokenKind::ShortOption:
        out.push_back((token->kind == TokenKind::LongOption ? "L " : "S ") +
                      std::string(token->key) + "|" + std::string(token->op) + "|" +
                      std::string(token->value));
        break;
    }
  }
  return out;
}

TEST(Tokenizer, SplitsKeysOperatorsAndValues) {
  const struct {
    std::vector<std::string_view> args;
    std::vector<std::string> tokens;
  } cases[] = {
      {{"--listen+=x"}, {"L listen|+=|x"}},
      // The first character of a key is never an operator.
      {{"--+=x"}, {"L +|=|x"}},
      {{"--+-=x"}, {"L +|-=|x"}},
      // A separator right after the dashes belongs to the key, which then takes a value.
      {{"--=5", "next"}, {"L =5||next"}},
      // Only the help switches leave the next argument alone; unknown keys take it too.
      {{"--help", "x"}, {"L help||", "N x"}},
      {{"--help-s", "x"}, {"L help-s||", "N x"}},
      {{"--version", "x"}, {"L version||x"}},
      {{"--nope", "x"}, {"L nope||x"}},
      {{"-p8080", "-p=1", "-p:2", "-p", "3"}, {"S p||8080", "S p|=|1", "S p|:|2", "S p||3"}},
      {{"-l+=x", "-l+x", "-l", "-x"}, {"S l|+=|x", "S l||+x", "S l||-x"}},
      // After -h the rest of the argument is read as further short keys.
      {{"-hhl=x"}, {"S h||", "S h||", "S l|=|x"}},
      {{"-hp", "9"}, {"S h||", "S p||9"}},
      {{"-h=no", "x"}, {"S h|=|no", "N x"}},
      {{"-\u00e9x"}, {"S \u00e9||x"}},
      {{"--", "-p", "--", "x"}, {"N -p", "N --", "N x"}},
      {{"-p", "--", "x"}, {"S p||--", "N x"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tokenize(c.args), c.tokens) << ::testing::PrintToString(c.args);
  }
}

}  // namespace
}  // namespace relaydash
