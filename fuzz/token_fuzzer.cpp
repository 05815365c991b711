// Feeds arbitrary text to the byte codecs, the token reader and the key ring. Decoding either
// fails with the buffer or token errors or gives bytes that encode back; any text sealed as a
// token opens to itself. Anything else escaping, or a sanitizer report, is a finding.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crypto/buffer.hpp"
#include "crypto/chachapoly.hpp"
#include "crypto/libsodium.hpp"
#include "json/writer.hpp"
#include "security/token_keys.hpp"
#include "security/token_seal.hpp"

using namespace relaydash;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Buffer key = [] {
    loadLibsodium();
    return genChachapolyKey();
  }();
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  try {
    const Buffer bytes = decodeBase64(text);
    check(toString(decodeBase64(base64(bytes))) == toString(bytes));
  } catch (const BufferValueError&) {
  }
  try {
    const Buffer bytes = decodeHex(text);
    check(toString(decodeHex(hex(bytes))) == toString(bytes));
  } catch (const BufferValueError&) {
  }
  try {
    decodeAuthToken(key, text);
  } catch (const InvalidTokenError&) {
  } catch (const BufferValueError&) {
  }
  static TokenKeys keys;
  const auto now = TokenKeys::TimePoint{} + std::chrono::hours(1000);
  try {
    keys.open(text, now);
  } catch (const InvalidTokenError&) {
  } catch (const ExpiredTokenError&) {
  } catch (const BufferValueError&) {
  }

  const JsonNodePtr payload = newJString(std::string(text));
  check(toCompact(*decodeAuthToken(key, encodeAuthToken(key, *payload))) == toCompact(*payload));
  check(toCompact(*keys.open(keys.issue(*payload, now), now)) == toCompact(*payload));
  return 0;
}
