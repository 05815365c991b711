#include "crypto/blake2.hpp"

#include <stdexcept>

#include "crypto/libsodium.hpp"

namespace relaydash {
namespace {

constexpr std::int32_t kSaltBytes = 12;

}  // namespace

Buffer genBlake2bSalt() {
  return newBufferRandomized(kSaltBytes);
}

Buffer blake2b(const Buffer& data, const std::optional<Buffer>& key) {
  const Libsodium& sodium = libsodium();
  const std::size_t outBytes = sodium.blake2bBytesMin();
  const Buffer out = newBuffer(static_cast<std::int32_t>(outBytes));
  const int result = sodium.blake2b(
      out.data(), outBytes, data.data(), static_cast<unsigned long long>(data.size()),
      key ? key->data() : nullptr, key ? static_cast<std::size_t>(key->size()) : 0);
  // Only sizes outside the library's limits make it fail, and ours are fixed within them.
  if (result != 0) throw std::logic_error("crypto_generichash_blake2b failed");
  return out;
}

}  // namespace relaydash
