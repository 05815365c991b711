#pragma once

#include <sodium.h>

namespace relaydash {

// The libsodium functions this program calls, resolved once from the shared library.
struct Libsodium {
  decltype(&::crypto_aead_chacha20poly1305_keygen) aeadKeygen;
  decltype(&::randombytes_buf) randomBytes;
  decltype(&::crypto_generichash_blake2b_bytes_min) blake2bBytesMin;
  decltype(&::crypto_generichash_blake2b) blake2b;
  decltype(&::crypto_aead_chacha20poly1305_ietf_npubbytes) aeadNonceBytes;
  decltype(&::crypto_aead_chacha20poly1305_ietf_keybytes) aeadKeyBytes;
  decltype(&::crypto_aead_chacha20poly1305_ietf_abytes) aeadTagBytes;
  decltype(&::crypto_aead_chacha20poly1305_ietf_decrypt) aeadDecrypt;
  decltype(&::crypto_aead_chacha20poly1305_ietf_encrypt) aeadEncrypt;
};

// Loads libsodium and resolves its functions. Called first thing at start-up, after the SQLite
// binding; later calls do nothing. A missing library or function ends the process (status 1).
void loadLibsodium();

// The resolved functions; loads the library on first use.
const Libsodium& libsodium();

}  // namespace relaydash
