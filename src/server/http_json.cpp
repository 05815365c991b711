#include "server/http_json.hpp"

#include "server/http_error.hpp"

namespace relaydash {

const JsonNodePtr& httpJsonMustGet(const JsonNode& node, std::string_view key) {
  if (!node.isObject()) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Cannot get field " + std::string(key) + " from an non-object");
  }
  const JsonNodePtr* member = node.object().find(key);
  if (!member)
    raiseHttpException(400, ErrorCode::MissingField, "Missing field " + std::string(key));
  return *member;
}

const std::string& httpJsonMustGetString(const JsonNode& node, std::string_view key) {
  return httpJsonStringOf(*httpJsonMustGet(node, key), key);
}

const std::string& httpJsonStringOf(const JsonNode& member, std::string_view key) {
  if (!member.isString() || member.isRawNumber()) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field " + std::string(key) + " is not a string");
  }
  return member.getString();
}

}  // namespace relaydash
