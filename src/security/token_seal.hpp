#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "crypto/buffer.hpp"
#include "json/value.hpp"

namespace relaydash {

// A token that does not open: "Invalid size: " or "Invalid MAC: " followed by the whole token.
class InvalidTokenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Seals payload under secret (a 32-byte key) into an opaque bearer token: the base64 of a fresh
// nonce, the ChaCha20-Poly1305 ciphertext of the payload's compact JSON text, and the tag. The
// token carries no time: it opens for as long as the key is known.
std::string encodeAuthToken(const Buffer& secret, const JsonNode& payload);

// The value sealed in token. Text that is not padded base64 raises BufferValueError as it is;
// a token too short to hold a nonce and a byte, that does not verify under secret, or that does
// not hold one JSON document raises InvalidTokenError.
JsonNodePtr decodeAuthToken(const Buffer& secret, std::string_view token);

// The same in two steps, for trying one token against several keys.

// A token's bytes: its nonce, and the ciphertext with the tag; both views of one buffer.
struct SealedToken {
  Buffer nonce;
  Buffer sealed;
};

// Decodes the token's text; raises as decodeAuthToken does before it tries a key.
SealedToken splitAuthToken(std::string_view token);

// The payload when the token verifies under secret, nullptr when it does not. Raises
// InvalidTokenError ("Invalid MAC: " + token) when it verifies but holds no JSON document.
JsonNodePtr openAuthToken(const Buffer& secret, const SealedToken& sealed, std::string_view token);

// The error for a token that no key opens.
InvalidTokenError invalidMac(std::string_view token);

}  // namespace relaydash
