// Feeds arbitrary text to the byte codecs and the token reader. Decoding either fails with the
// buffer or token errors or gives bytes that encode back; any text sealed as a token opens to
// itself. Anything else escaping, or a sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "auth.hpp"
#include "crypto/buffer.hpp"
#include "crypto/chachapoly.hpp"
#include "crypto/libsodium.hpp"
#include "json/writer.hpp"

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

  const JsonNodePtr payload = newJString(std::string(text));
  check(toCompact(*decodeAuthToken(key, encodeAuthToken(key, *payload))) == toCompact(*payload));
  return 0;
}
