#include "json/value.hpp"

#include <utility>

namespace relaydash {

namespace {

[[noreturn]] void notAn(const char* kind) {
  throw JsonKindError(std::string("JSON value is not an ") + kind);
}

}  // namespace

JsonKeyError::JsonKeyError(std::string_view key)
    : std::out_of_range("key not found: " + std::string(key)) {}

bool JsonNode::isRawNumber() const noexcept {
  const auto* text = std::get_if<JsonString>(&value_);
  return text != nullptr && text->rawNumber;
}

bool JsonNode::getBool(bool fallback) const noexcept {
  const auto* value = std::get_if<bool>(&value_);
  return value ? *value : fallback;
}

std::int64_t JsonNode::getInt(std::int64_t fallback) const noexcept {
  const auto* value = std::get_if<std::int64_t>(&value_);
  return value ? *value : fallback;
}

double JsonNode::getFloat(double fallback) const noexcept {
  if (const auto* value = std::get_if<double>(&value_)) return *value;
  if (const auto* value = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*value);
  return fallback;
}

const std::string& JsonNode::getString() const noexcept {
  static const std::string noString;
  const auto* value = std::get_if<JsonString>(&value_);
  return value ? value->text : noString;
}

const JsonObject& JsonNode::object() const {
  const auto* value = std::get_if<JsonObject>(&value_);
  if (!value) notAn("object");
  return *value;
}

JsonObject& JsonNode::object() {
  auto* value = std::get_if<JsonObject>(&value_);
  if (!value) notAn("object");
  return *value;
}

const JsonArray& JsonNode::array() const {
  const auto* value = std::get_if<JsonArray>(&value_);
  if (!value) notAn("array");
  return *value;
}

JsonArray& JsonNode::array() {
  auto* value = std::get_if<JsonArray>(&value_);
  if (!value) notAn("array");
  return *value;
}

std::size_t JsonNode::size() const noexcept {
  if (const auto* members = std::get_if<JsonObject>(&value_)) return members->size();
  if (const auto* elements = std::get_if<JsonArray>(&value_)) return elements->size();
  return 0;
}

bool JsonNode::hasKey(std::string_view key) const noexcept {
  const auto* members = std::get_if<JsonObject>(&value_);
  return members != nullptr && members->contains(key);
}

const JsonNodePtr& JsonNode::at(std::string_view key) const {
  const JsonNodePtr* value = object().find(key);
  if (!value) throw JsonKeyError(key);
  return *value;
}

JsonNodePtr JsonNode::get(std::string_view key) const {
  const auto* members = std::get_if<JsonObject>(&value_);
  if (!members) return nullptr;
  const JsonNodePtr* value = members->find(key);
  return value ? *value : nullptr;
}

void JsonNode::set(std::string key, JsonNodePtr value) {
  object().set(std::move(key), std::move(value));
}

void JsonNode::add(JsonNodePtr value) {
  array().push_back(std::move(value));
}

JsonNodePtr newJNull() {
  return std::make_shared<JsonNode>();
}
JsonNodePtr newJBool(bool value) {
  return std::make_shared<JsonNode>(value);
}
JsonNodePtr newJInt(std::int64_t value) {
  return std::make_shared<JsonNode>(value);
}
JsonNodePtr newJFloat(double value) {
  return std::make_shared<JsonNode>(value);
}
JsonNodePtr newJString(std::string text) {
  return std::make_shared<JsonNode>(JsonString{std::move(text), false});
}
JsonNodePtr newJRawNumber(std::string text) {
  return std::make_shared<JsonNode>(JsonString{std::move(text), true});
}
JsonNodePtr newJObject() {
  return std::make_shared<JsonNode>(JsonObject{});
}
JsonNodePtr newJArray() {
  return std::make_shared<JsonNode>(JsonArray{});
}

JsonNodePtr copy(const JsonNode& node) {
  switch (node.kind()) {
    case JsonKind::Object: {
      JsonObject members;
      members.reserve(node.size());
      for (const JsonMember& member : node.object())
        members.set(member.key, copy(*member.value));
      return std::make_shared<JsonNode>(std::move(members));
    }
    case JsonKind::Array: {
      JsonArray elements;
      elements.reserve(node.size());
      for (const JsonNodePtr& element : node.array())
        elements.push_back(copy(*element));
      return std::make_shared<JsonNode>(std::move(elements));
    }
    default:
      return std::make_shared<JsonNode>(node);
  }
}

}  // namespace relaydash
