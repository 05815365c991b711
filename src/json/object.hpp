#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash {

class JsonNode;

// Nodes are shared: several documents (or several places in one) may hold the same node.
using JsonNodePtr = std::shared_ptr<JsonNode>;

struct JsonMember {
  std::string key;
  JsonNodePtr value;
};

// The members of a JSON object: unique keys in insertion order, which every writer keeps.
// Setting an existing key replaces its value where it stands; a new key goes to the end.
// Lookups are O(1) on average at any size. Copying copies the member list, not the nodes.
class JsonObject {
 public:
  using const_iterator = std::vector<JsonMember>::const_iterator;

  std::size_t size() const noexcept { return members_.size(); }
  bool empty() const noexcept { return members_.empty(); }
  const_iterator begin() const noexcept { return members_.begin(); }
  const_iterator end() const noexcept { return members_.end(); }

  // The value stored under key, or nullptr when there is none. The pointer stays valid until
  // the next set().
  const JsonNodePtr* find(std::string_view key) const noexcept;
  bool contains(std::string_view key) const noexcept { return find(key) != nullptr; }

  void set(std::string key, JsonNodePtr value);
  void reserve(std::size_t count) { members_.reserve(count); }

 private:
  static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);

  std::size_t indexOf(std::string_view key) const noexcept;
  void rebuildIndex(std::size_t slotCount);
  void addToIndex(std::size_t member) noexcept;

  std::vector<JsonMember> members_;
  // Open addressing with linear probing over member positions plus one (0 marks a free slot);
  // empty while the object is small enough to scan. At most half full.
  std::vector<std::uint32_t> slots_;
};

}  // namespace relaydash
