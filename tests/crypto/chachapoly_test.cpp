#include "crypto/chachapoly.hpp"

#include <gtest/gtest.h>

#include <string>

namespace relaydash {
namespace {

// Seal with associated data, from RFC 8439, section 2.8.2.
TEST(Chachapoly, SealsTheRfc8439Example) {
  const Buffer sealed = chachapolyEncrypt(
      newBufferHex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f"),
      newBufferHex("070000004041424344454647"),
      newBuffer("Ladies and Gentlemen of the class of '99: If I could offer you only one tip for "
                "the future, sunscreen would be it."),
      newBufferHex("50515253c0c1c2c3c4c5c6c7"));
  EXPECT_EQ(hex(sealed),
            hex(newBufferHex("d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d6"
                             "3dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b36"
                             "92ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
                             "3ff4def08e4b7a9de576d26586cec64b6116"
                             "1ae10b594f09e26a7e902ecbd0600691")));  // the tag
}

TEST(Chachapoly, OpensWhatItSealed) {
  const Buffer key = genChachapolyKey();
  const Buffer nonce = genChachapolyNonce();
  EXPECT_NE(hex(key), hex(genChachapolyKey()));
  for (const std::string& text : {std::string(), std::string("\0\xFF", 2), std::string(999, 'x')}) {
    const Buffer sealed = chachapolyEncrypt(key, nonce, newBuffer(text));
    EXPECT_EQ(sealed.size(), static_cast<std::int32_t>(text.size()) + chachapolyMacSize());
    EXPECT_EQ(toString(chachapolyDecrypt(key, nonce, sealed)), text);
  }
}

TEST(Chachapoly, RefusesWrongSizesAndAlteredInput) {
  const Buffer key = genChachapolyKey();
  const Buffer nonce = genChachapolyNonce();
  const Buffer sealed = chachapolyEncrypt(key, nonce, newBuffer("attack at dawn"));
  const auto flipped = [](const Buffer& b, std::int32_t at) {
    const Buffer copy = b + newBuffer(0);
    copy[at] ^= 1;
    return copy;
  };
  const std::string key32 = "InvalidKeySizeError: Key size must be 32 bytes";
  const std::string nonce12 = "InvalidNonceSizeError: Nonce size must be 12 bytes";
  const std::string failed = "VerificationFailedException: verification failed";
  const struct {
    Buffer key, nonce, sealed;
    std::string expected;
  } cases[] = {
      {newBufferRandomized(31), nonce, sealed, key32},
      {newBufferRandomized(31), newBufferRandomized(8), sealed, key32},
      {key, newBufferRandomized(8), sealed, nonce12},
      {flipped(key, 31), nonce, sealed, failed},
      {key, flipped(nonce, 0), sealed, failed},
      {key, nonce, flipped(sealed, 0), failed},
      {key, nonce, flipped(sealed, sealed.size() - 1), failed},
      {key, nonce, slice(sealed, 0, 15), failed},
      {key, nonce, newBuffer(0), failed},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    std::string got = "no error";
    try {
      chachapolyDecrypt(c.key, c.nonce, c.sealed);
    } catch (const InvalidKeySizeError& e) {
      got = std::string("InvalidKeySizeError: ") + e.what();
    } catch (const InvalidNonceSizeError& e) {
      got = std::string("InvalidNonceSizeError: ") + e.what();
    } catch (const VerificationFailedException& e) {
      got = std::string("VerificationFailedException: ") + e.what();
    }
    EXPECT_EQ(got, c.expected) << "case " << i;
  }
  EXPECT_THROW(chachapolyEncrypt(newBuffer(0), nonce, sealed), InvalidKeySizeError);
  EXPECT_THROW(chachapolyEncrypt(key, newBuffer(0), sealed), InvalidNonceSizeError);
}

}  // namespace
}  // namespace relaydash
