#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "json/object.hpp"

namespace relaydash {

// The kinds in the order of JsonNode's alternatives.
enum class JsonKind : std::uint8_t { Null, Bool, Int, Float, String, Object, Array };

using JsonArray = std::vector<JsonNodePtr>;

// A string node's bytes (UTF-8 is not checked). A raw number is an integer literal too wide for
// 64 bits: its text is kept here and written without quotes, so it survives a read and a write.
struct JsonString {
  std::string text;
  bool rawNumber = false;
};

// Raised by the failing member lookup; the message is "key not found: " followed by the key.
class JsonKeyError : public std::out_of_range {
 public:
  explicit JsonKeyError(std::string_view key);
};

// Raised when a node is used as a container of a kind it is not.
class JsonKindError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One JSON value. Nodes are handled through JsonNodePtr and shared by reference; `copy` makes a
// deep copy. A default-constructed node is null.
class JsonNode {
 public:
  JsonNode() = default;
  explicit JsonNode(bool value) : value_(value) {}
  explicit JsonNode(std::int64_t value) : value_(value) {}
  explicit JsonNode(double value) : value_(value) {}
  explicit JsonNode(JsonString value) : value_(std::move(value)) {}
  explicit JsonNode(JsonObject value) : value_(std::move(value)) {}
  explicit JsonNode(JsonArray value) : value_(std::move(value)) {}
  // A pointer would otherwise quietly become a boolean. Explicit, so that text, which must never
  // become a node by itself, is not offered as one either.
  explicit JsonNode(const void*) = delete;

  JsonKind kind() const noexcept { return static_cast<JsonKind>(value_.index()); }
  bool isNull() const noexcept { return kind() == JsonKind::Null; }
  bool isBool() const noexcept { return kind() == JsonKind::Bool; }
  bool isInt() const noexcept { return kind() == JsonKind::Int; }
  bool isFloat() const noexcept { return kind() == JsonKind::Float; }
  bool isString() const noexcept { return kind() == JsonKind::String; }
  bool isRawNumber() const noexcept;
  bool isObject() const noexcept { return kind() == JsonKind::Object; }
  bool isArray() const noexcept { return kind() == JsonKind::Array; }

  // Lenient readers: the content when the node is of that kind, else the fallback. getFloat also
  // reads an integer; getString gives "" for every node that is not a string (a raw number is
  // one: it gives its text).
  bool getBool(bool fallback = false) const noexcept;
  std::int64_t getInt(std::int64_t fallback = 0) const noexcept;
  double getFloat(double fallback = 0.0) const noexcept;
  const std::string& getString() const noexcept;

  // The containers themselves; JsonKindError when the node is of another kind.
  const JsonObject& object() const;
  JsonObject& object();
  const JsonArray& array() const;
  JsonArray& array();

  // Members of an object or elements of an array; 0 for a scalar.
  std::size_t size() const noexcept;

  // Member tests: false when the node is not an object.
  bool hasKey(std::string_view key) const noexcept;
  bool contains(std::string_view key) const noexcept { return hasKey(key); }

  // The failing lookup: JsonKeyError when the member is missing, JsonKindError when the node is
  // not an object.
  const JsonNodePtr& at(std::string_view key) const;
  const JsonNodePtr& operator[](std::string_view key) const { return at(key); }

  // The lookup that does not fail: nullptr when the member is missing or the node no object.
  JsonNodePtr get(std::string_view key) const;

  // Replaces the value of an existing member in place or appends a new one (objects only).
  void set(std::string key, JsonNodePtr value);
  // Appends an element (arrays only).
  void add(JsonNodePtr value);

 private:
  using Storage =
      std::variant<std::monostate, bool, std::int64_t, double, JsonString, JsonObject, JsonArray>;

  template <JsonKind kind, typename T>
  static constexpr bool kStoredAs =
      std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(kind), Storage>, T>;
  static_assert(kStoredAs<JsonKind::Null, std::monostate> && kStoredAs<JsonKind::Bool, bool> &&
                    kStoredAs<JsonKind::Int, std::int64_t> && kStoredAs<JsonKind::Float, double> &&
                    kStoredAs<JsonKind::String, JsonString> &&
                    kStoredAs<JsonKind::Object, JsonObject> &&
                    kStoredAs<JsonKind::Array, JsonArray>,
                "kind() reads the kind from the index of the stored alternative");

  Storage value_;
};

JsonNodePtr newJNull();
JsonNodePtr newJBool(bool value);
JsonNodePtr newJInt(std::int64_t value);
JsonNodePtr newJFloat(double value);
JsonNodePtr newJString(std::string text);
// The caller vouches that text is an integer literal: writers emit it as it is.
JsonNodePtr newJRawNumber(std::string text);
JsonNodePtr newJObject();
JsonNodePtr newJArray();

// A whole number, or null when there is none.
template <typename Int>
requires std::is_integral_v<Int> JsonNodePtr newJIntOrNull(const std::optional<Int>& value) {
  return value ? newJInt(static_cast<std::int64_t>(*value)) : newJNull();
}

// A deep copy: the node and everything below it, sharing nothing with the original.
JsonNodePtr copy(const JsonNode& node);

}  // namespace relaydash
