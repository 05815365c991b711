#include "security/token_seal.hpp"

#include <gtest/gtest.h>

#include <string>

#include "crypto/chachapoly.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The compact JSON of what decoding gives, or the class and message of its error.
std::string decoded(const Buffer& secret, const std::string& token) {
  try {
    return toCompact(*decodeAuthToken(secret, token));
  } catch (const InvalidTokenError& e) {
    return std::string("InvalidTokenError: ") + e.what();
  } catch (const BufferValueError& e) {
    return std::string("BufferValueError: ") + e.what();
  }
}

TEST(AuthToken, AnyJsonValueComesBackUnchanged) {
  const Buffer secret = genChachapolyKey();
  for (const char* payload :
       {R"({"username":"admin"})", R"([1,"O'Brien \"x\"",null,{"a":[]}])", "42", "null"}) {
    const std::string token = encodeAuthToken(secret, *parseJson(payload));
    EXPECT_EQ(token.find_first_not_of(std::string(kBase64Alphabet) + "="), std::string::npos);
    EXPECT_EQ(decoded(secret, token), payload);
  }
  const std::string first = encodeAuthToken(secret, *parseJson(R"({"username":"admin"})"));
  const std::string second = encodeAuthToken(secret, *parseJson(R"({"username":"admin"})"));
  EXPECT_NE(first, second);
  // 12 bytes of nonce, 20 of payload and 16 of tag: 64 characters without padding.
  EXPECT_EQ(first.size(), 64u);
  EXPECT_EQ(decoded(secret, second), R"({"username":"admin"})");
}

TEST(AuthToken, MalformedTokensFailWithTheirOwnError) {
  const Buffer secret = genChachapolyKey();
  const std::string token = encodeAuthToken(secret, *parseJson(R"({"username":"admin"})"));
  const auto sealed = [&](std::string_view plaintext) {
    const Buffer nonce = genChachapolyNonce();
    return base64(nonce + chachapolyEncrypt(secret, nonce, newBuffer(plaintext)));
  };
  const std::string invalidMac = "InvalidTokenError: Invalid MAC: ";
  const std::string padding = "BufferValueError: Only base64 with padding is supported";
  const struct {
    Buffer key;
    std::string token;
    std::string expected;  // InvalidTokenError's message also ends with the token
  } cases[] = {
      {secret, "", "InvalidTokenError: Invalid size: "},
      {secret, std::string(16, 'A'), "InvalidTokenError: Invalid size: "},
      {secret, std::string(17, 'A'), padding},
      {secret, token.substr(0, 63), padding},
      {secret, "AAAA-AAA", "BufferValueError: Invalid base64 charactor: -"},
      {secret, token.substr(0, 60) + "\nAAA", "BufferValueError: Invalid base64 charactor: \n"},
      {secret, base64(newBufferRandomized(13)), invalidMac},  // shorter than a tag
      {secret, base64(newBufferRandomized(28)), invalidMac},  // a forged tag alone
      {secret, token.substr(0, 63) + "=", invalidMac},
      {genChachapolyKey(), token, invalidMac},  // another run's key
      {newBufferRandomized(31), token, invalidMac},
      {secret, sealed(R"({"username":)"), invalidMac},
      {secret, sealed(""), invalidMac},
      {secret, sealed("{} {}"), invalidMac},
  };
  for (const auto& c : cases) {
    const bool named = c.expected.starts_with("InvalidTokenError");
    EXPECT_EQ(decoded(c.key, c.token), named ? c.expected + c.token : c.expected) << c.token;
  }
  // Every character altered to another of the alphabet changes the sealed bytes.
  for (std::size_t i = 0; i < token.size(); ++i) {
    std::string altered = token;
    altered[i] = kBase64Alphabet[(kBase64Alphabet.find(token[i]) + 1) % kBase64Alphabet.size()];
    EXPECT_EQ(decoded(secret, altered), invalidMac + altered) << i;
  }
}

}  // namespace
}  // namespace relaydash
