#include "security/token_seal.hpp"

#include <optional>

#include "crypto/chachapoly.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {

std::string encodeAuthToken(const Buffer& secret, const JsonNode& payload) {
  const Buffer nonce = genChachapolyNonce();
  const Buffer sealed = chachapolyEncrypt(secret, nonce, newBuffer(toCompact(payload)));
  return base64(nonce + sealed);
}

JsonNodePtr decodeAuthToken(const Buffer& secret, std::string_view token) {
  JsonNodePtr payload = openAuthToken(secret, splitAuthToken(token), token);
  if (!payload) throw invalidMac(token);
  return payload;
}

SealedToken splitAuthToken(std::string_view token) {
  const Buffer raw = newBufferB64(token);
  const std::int32_t nonceSize = chachapolyNonceSize();
  if (raw.size() < nonceSize + 1) throw InvalidTokenError("Invalid size: " + std::string(token));
  return {slice(raw, 0, nonceSize), slice(raw, nonceSize, raw.size())};
}

InvalidTokenError invalidMac(std::string_view token) {
  // A token that does not open, for whatever reason, gets one answer: telling a wrong key from
  // altered bytes or a forged payload would only help whoever is probing.
  return InvalidTokenError("Invalid MAC: " + std::string(token));
}

JsonNodePtr openAuthToken(const Buffer& secret, const SealedToken& sealed, std::string_view token) {
  std::optional<Buffer> plaintext;
  try {
    plaintext = chachapolyDecrypt(secret, sealed.nonce, sealed.sealed);
  } catch (const std::runtime_error&) {
    return nullptr;
  }
  try {
    return parseJson(
        std::string_view(plaintext->chars(), static_cast<std::size_t>(plaintext->size())));
  } catch (const JsonParsingError&) {
    throw invalidMac(token);
  }
}

}  // namespace relaydash
