#include "crypto/libsodium.hpp"

#include "loader/shared_library.hpp"

namespace relaydash {
namespace {

struct LoadedLibsodium {
  SharedLibrary library;
  Libsodium functions;
};

LoadedLibsodium load() {
  // Plain "libsodium.so" is only there with the development files; a stock system has just the
  // versioned name of its release, so those are tried too, newest first.
  LoadedLibsodium loaded{
      loadLibraryOrExit({"libsodium.so", "libsodium.so.26", "libsodium.so.23", "libsodium.so.18"}),
      {}};
  const SharedLibrary& lib = loaded.library;
  Libsodium& f = loaded.functions;
  importOrExit(lib, "crypto_aead_chacha20poly1305_keygen", f.aeadKeygen);
  importOrExit(lib, "randombytes_buf", f.randomBytes);
  importOrExit(lib, "crypto_generichash_blake2b_bytes_min", f.blake2bBytesMin);
  importOrExit(lib, "crypto_generichash_blake2b", f.blake2b);
  importOrExit(lib, "crypto_aead_chacha20poly1305_ietf_npubbytes", f.aeadNonceBytes);
  importOrExit(lib, "crypto_aead_chacha20poly1305_ietf_keybytes", f.aeadKeyBytes);
  importOrExit(lib, "crypto_aead_chacha20poly1305_ietf_abytes", f.aeadTagBytes);
  importOrExit(lib, "crypto_aead_chacha20poly1305_ietf_decrypt", f.aeadDecrypt);
  importOrExit(lib, "crypto_aead_chacha20poly1305_ietf_encrypt", f.aeadEncrypt);
  return loaded;
}

}  // namespace

void loadLibsodium() {
  libsodium();
}

const Libsodium& libsodium() {
  static const LoadedLibsodium loaded = load();
  return loaded.functions;
}

}  // namespace relaydash
