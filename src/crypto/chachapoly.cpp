#include "crypto/chachapoly.hpp"

#include <limits>
#include <string>

#include "crypto/libsodium.hpp"

namespace relaydash {
namespace {

constexpr std::int32_t kKeyBytes = 32;

std::int32_t toSize(std::size_t n) {
  if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::range_error("size out of range: " + std::to_string(n));
  }
  return static_cast<std::int32_t>(n);
}

void checkKeyAndNonce(const Buffer& key, const Buffer& nonce) {
  const std::int32_t keySize = chachaPolyKeySize();
  if (key.size() != keySize) {
    throw InvalidKeySizeError("Key size must be " + std::to_string(keySize) + " bytes");
  }
  const std::int32_t nonceSize = chachapolyNonceSize();
  if (nonce.size() != nonceSize) {
    throw InvalidNonceSizeError("Nonce size must be " + std::to_string(nonceSize) + " bytes");
  }
}

}  // namespace

std::int32_t chachapolyNonceSize() {
  return toSize(libsodium().aeadNonceBytes());
}

std::int32_t chachaPolyKeySize() {
  return toSize(libsodium().aeadKeyBytes());
}

std::int32_t chachapolyMacSize() {
  return toSize(libsodium().aeadTagBytes());
}

Buffer genChachapolyKey() {
  const Buffer key = newBufferZeroized(kKeyBytes);
  libsodium().aeadKeygen(key.data());
  return key;
}

Buffer genChachapolyNonce() {
  return newBufferRandomized(chachapolyNonceSize());
}

Buffer chachapolyEncrypt(const Buffer& key, const Buffer& nonce, const Buffer& plaintext,
                         const std::optional<Buffer>& associatedData) {
  checkKeyAndNonce(key, nonce);
  const Buffer out =
      newBuffer(toSize(static_cast<std::size_t>(plaintext.size()) + chachapolyMacSize()));
  unsigned long long sealedLength = 0;
  const int result = libsodium().aeadEncrypt(
      out.data(), &sealedLength, plaintext.data(),
      static_cast<unsigned long long>(plaintext.size()),
      associatedData ? associatedData->data() : nullptr,
      associatedData ? static_cast<unsigned long long>(associatedData->size()) : 0, nullptr,
      nonce.data(), key.data());
  if (result != 0) throw AeadException("Encryption failed");
  return slice(out, 0, static_cast<std::int32_t>(sealedLength));
}

Buffer chachapolyDecrypt(const Buffer& key, const Buffer& nonce, const Buffer& sealed) {
  checkKeyAndNonce(key, nonce);
  const std::int32_t tagSize = chachapolyMacSize();
  // Too short to hold a tag: nothing can verify, and the plaintext size would be negative.
  if (sealed.size() < tagSize) throw VerificationFailedException("verification failed");
  const Buffer out = newBuffer(sealed.size() - tagSize);
  unsigned long long plaintextLength = 0;
  const int result = libsodium().aeadDecrypt(out.data(), &plaintextLength, nullptr, sealed.data(),
                                             static_cast<unsigned long long>(sealed.size()),
                                             nullptr, 0, nonce.data(), key.data());
  if (result == -1) throw VerificationFailedException("verification failed");
  if (result != 0) throw DecryptionFailedException("verification failed");
  return slice(out, 0, static_cast<std::int32_t>(plaintextLength));
}

}  // namespace relaydash
