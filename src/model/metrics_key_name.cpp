#include "model/metrics_key_name.hpp"

namespace relaydash {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// Well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF) without C0 or
// C1 control characters: a name goes into a table cell and an audit row as it is.
bool isPlainUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t point = 0;
    if (lead < 0x80) {
      length = 1;
      point = lead;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
      point = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      point = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      point = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xc0) != 0x80) return false;
      point = point << 6 | (byte(i + k) & 0x3f);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    const bool surrogate = point >= 0xd800 && point <= 0xdfff;
    const bool control = point < 0x20 || point == 0x7f || (point >= 0x80 && point < 0xa0);
    if (overlong || surrogate || point > 0x10ffff || control) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::optional<std::string> metricsKeyName(std::string_view text) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  if (text.empty() || text.size() > kMaxMetricsKeyNameBytes || !isPlainUtf8(text)) {
    return std::nullopt;
  }
  return std::string(text);
}

}  // namespace relaydash
