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
// The string a member already looked up holds, or 23001 "Field KEY is not a string": for a
// caller that looks up every member before it checks any (a raw number is no string).
const std::string& httpJsonStringOf(const JsonNode& member, std::string_view key);

}  // namespace relaydash
