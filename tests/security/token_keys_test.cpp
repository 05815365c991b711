#include "security/token_keys.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/chachapoly.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "security/token_seal.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;
using TimePoint = TokenKeys::TimePoint;

// Any point of the monotonic clock will do; the keys only compare distances.
const TimePoint t0 = TimePoint{} + 1000h;

const JsonNodePtr kAdmin = parseJson(R"({"username":"admin"})");

// What opening gives: the payload, or which refusal.
std::string opened(TokenKeys& keys, const std::string& token, TimePoint now) {
  try {
    return toCompact(*keys.open(token, now));
  } catch (const InvalidTokenError&) {
    return "invalid";
  } catch (const ExpiredTokenError&) {
    return "expired";
  } catch (const BufferValueError&) {
    return "not base64";
  }
}

TEST(TokenKeys, ATokenIsAcceptedForTwelveHoursThenExpiredThenInvalid) {
  const struct {
    std::chrono::minutes after;
    const char* outcome;
  } rows[] = {
      {0min, R"({"username":"admin"})"},
      {12h - 1min, R"({"username":"admin"})"},
      {12h, "expired"},
      {24h - 1min, "expired"},
      // Its key has been forgotten: as invalid as a token that never was.
      {24h, "invalid"},
      {1000h, "invalid"},
  };
  for (const auto& row : rows) {
    TokenKeys keys;
    const std::string token = keys.issue(*kAdmin, t0);
    EXPECT_EQ(opened(keys, token, t0 + row.after), row.outcome) << row.after.count() << " min";
  }
}

TEST(TokenKeys, AKeySealsForTenMinutesAndNoTokenEndsBeforeItsTwelveHours) {
  TokenKeys keys;
  const std::string first = keys.issue(*kAdmin, t0);
  const std::string sameKey = keys.issue(*kAdmin, t0 + 9min);
  EXPECT_EQ(keys.keyCount(), 1u);
  const std::string nextKey = keys.issue(*kAdmin, t0 + 10min);
  EXPECT_EQ(keys.keyCount(), 2u);
  // The first token counts from the last one its key sealed: a few minutes more, never less.
  EXPECT_EQ(opened(keys, first, t0 + 12h + 8min), R"({"username":"admin"})");
  EXPECT_EQ(opened(keys, first, t0 + 12h + 9min), "expired");
  EXPECT_EQ(opened(keys, sameKey, t0 + 12h + 9min), "expired");
  EXPECT_EQ(opened(keys, nextKey, t0 + 12h + 9min), R"({"username":"admin"})");

  // Sign-ins every minute for two days keep no more keys than the bound.
  TokenKeys busy;
  for (auto at = 0min; at < 48h; at += 1min) {
    busy.issue(*kAdmin, t0 + at);
    ASSERT_LE(busy.keyCount(), TokenKeys::kMaxKeys) << at.count();
  }
  EXPECT_GE(busy.keyCount(), TokenKeys::kMaxKeys - 1);
}

TEST(TokenKeys, TokensOfKeysNeverKnownAreInvalid) {
  TokenKeys keys;
  const std::string ours = keys.issue(*kAdmin, t0);
  std::string altered = ours;
  altered[20] = altered[20] == 'A' ? 'B' : 'A';
  for (const std::string& token : {encodeAuthToken(genChachapolyKey(), *kAdmin), altered,
                                   std::string(), std::string(16, 'A')}) {
    for (const auto after : {0h, 12h, 20h}) {
      EXPECT_EQ(opened(keys, token, t0 + after), "invalid") << token << " " << after.count();
    }
  }
  EXPECT_EQ(opened(keys, ours.substr(1), t0), "not base64");
  TokenKeys none;
  EXPECT_EQ(opened(none, ours, t0), "invalid");
}

TEST(TokenKeys, APasswordChangeEndsEverySessionButTheOneThatMadeIt) {
  TokenKeys keys;
  const std::string older = keys.issue(*kAdmin, t0);
  const std::string other = keys.issue(*kAdmin, t0 + 15min);
  const std::string changer = keys.issue(*kAdmin, t0 + 16min);  // the same key as `other`
  keys.endSessionsBut(changer, t0 + 20min);
  EXPECT_EQ(opened(keys, older, t0 + 20min), "invalid");
  EXPECT_EQ(opened(keys, other, t0 + 20min), "invalid");
  EXPECT_EQ(opened(keys, changer, t0 + 20min), R"({"username":"admin"})");
  // Ended sessions stay invalid, also once they would have run out.
  EXPECT_EQ(opened(keys, other, t0 + 13h), "invalid");

  // The next token has a key of its own; a second change by it ends the first changer too.
  const std::string later = keys.issue(*kAdmin, t0 + 21min);
  EXPECT_EQ(opened(keys, later, t0 + 21min), R"({"username":"admin"})");
  keys.endSessionsBut(later, t0 + 22min);
  EXPECT_EQ(opened(keys, changer, t0 + 22min), "invalid");
  EXPECT_EQ(opened(keys, later, t0 + 22min), R"({"username":"admin"})");
  // The token that made the change still expires in time.
  EXPECT_EQ(opened(keys, later, t0 + 21min + 12h), "expired");

  // A change with a token that does not open ends every session.
  keys.endSessionsBut(encodeAuthToken(genChachapolyKey(), *kAdmin), t0 + 23min);
  EXPECT_EQ(keys.keyCount(), 0u);
  EXPECT_EQ(opened(keys, later, t0 + 23min), "invalid");
}

}  // namespace
}  // namespace relaydash
