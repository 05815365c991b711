#pragma once

#include <string>
#include <string_view>

#include "json/value.hpp"

namespace relaydash {

// Member accessors for request bodies; they raise HttpException 400 with a precise message:
// 23001 "Cannot get field KEY from an non-object" when node is not an object, 21031
// "Missing field KEY" when the member is absent, and (for the string form) 23001
// "Field KEY is not a string".
const JsonNodePtr& httpJsonMustGet(const JsonNode& node, std::string_view key);
const std::string& httpJsonMustGetString(const JsonNode& node, std::string_view key);

}  // namespace relaydash
