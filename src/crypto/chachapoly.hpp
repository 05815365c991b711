#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "crypto/buffer.hpp"

namespace relaydash {

class ChachapolyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class InvalidKeySizeError : public ChachapolyError {
 public:
  using ChachapolyError::ChachapolyError;
};

class InvalidNonceSizeError : public ChachapolyError {
 public:
  using ChachapolyError::ChachapolyError;
};

// The tag does not match: wrong key or nonce, or altered bytes.
class VerificationFailedException : public ChachapolyError {
 public:
  using ChachapolyError::ChachapolyError;
};

class DecryptionFailedException : public ChachapolyError {
 public:
  using ChachapolyError::ChachapolyError;
};

class AeadException : public ChachapolyError {
 public:
  using ChachapolyError::ChachapolyError;
};

// ChaCha20-Poly1305 in its IETF form (96-bit nonce). Sizes are the library's.
std::int32_t chachapolyNonceSize();
std::int32_t chachaPolyKeySize();
std::int32_t chachapolyMacSize();

// A fresh random 32-byte key.
Buffer genChachapolyKey();
// A fresh random nonce; a key must never seal twice under the same nonce.
Buffer genChachapolyNonce();

// Seals plaintext: the ciphertext followed by the tag. The nonce is not part of the output.
// Raises InvalidKeySizeError or InvalidNonceSizeError for a key or nonce of the wrong size.
Buffer chachapolyEncrypt(const Buffer& key, const Buffer& nonce, const Buffer& plaintext,
                         const std::optional<Buffer>& associatedData = std::nullopt);

// Opens what chachapolyEncrypt sealed without associated data. Raises the size errors as
// sealing does, and VerificationFailedException ("verification failed") when the tag does not
// verify, also when sealed is shorter than a tag. The result is a view of a new buffer.
Buffer chachapolyDecrypt(const Buffer& key, const Buffer& nonce, const Buffer& sealed);

}  // namespace relaydash
