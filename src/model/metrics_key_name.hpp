#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace relaydash {

// A metrics key's name is what the operator calls it on the Account page and in the audit
// trail: 1 to kMaxMetricsKeyNameBytes bytes of UTF-8 text without control characters, spaces
// and tabs at either end not counted.
inline constexpr std::size_t kMaxMetricsKeyNameBytes = 64;

// The name as kept (trimmed), or nullopt when text is no such name.
std::optional<std::string> metricsKeyName(std::string_view text);

}  // namespace relaydash
