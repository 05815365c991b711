#include "api/input.hpp"

#include <algorithm>
#include <string>

namespace relaydash {

Input::Input(const JsonNode& body, std::initializer_list<std::string_view> members)
    : input_(body.get("input")) {
  if (!input_ || input_->isNull()) {
    input_ = newJObject();
    return;
  }
  if (!input_->isObject())
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field input is not an object");
  for (const auto& member : input_->object()) {
    if (std::find(members.begin(), members.end(), member.key) == members.end())
      raiseHttpException(400, ErrorCode::UnknownField, "Unknown field " + member.key);
  }
}

bool Input::has(std::string_view name) const {
  return get(name) != nullptr;
}

JsonNodePtr Input::get(std::string_view name) const {
  JsonNodePtr value = input_->get(name);
  return value && !value->isNull() ? value : nullptr;
}

JsonNodePtr Input::required(std::string_view name) const {
  JsonNodePtr value = get(name);
  if (!value)
    raiseHttpException(400, ErrorCode::MissingField, "Missing field " + std::string(name));
  return value;
}

std::optional<std::string> Input::text(std::string_view name) const {
  const JsonNodePtr value = get(name);
  if (!value) return std::nullopt;
  if (!value->isString() || value->isRawNumber()) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field " + std::string(name) + " is not a string");
  }
  return value->getString();
}

bool Input::flag(std::string_view name) const {
  const JsonNodePtr value = get(name);
  if (!value) return false;
  if (!value->isBool()) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field " + std::string(name) + " is not true or false");
  }
  return value->getBool();
}

std::string Input::requiredText(std::string_view name) const {
  required(name);
  return *text(name);
}

std::optional<std::int64_t> Input::whole(std::string_view name, const Range& range) const {
  const JsonNodePtr value = get(name);
  if (!value) return std::nullopt;
  // A number too long for 64 bits is kept as its digits, which are no whole number here.
  if (!value->isInt() || value->getInt() < range.min || value->getInt() > range.max)
    raiseHttpException(400, range.code, range.message);
  return value->getInt();
}

std::int64_t Input::requiredWhole(std::string_view name, const Range& range) const {
  required(name);
  return *whole(name, range);
}

}  // namespace relaydash
