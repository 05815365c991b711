#include "json/object.hpp"

#include <bit>
#include <functional>
#include <utility>

#include "json/limits.hpp"

namespace relaydash {

namespace {

std::size_t hashKey(std::string_view key) noexcept {
  return std::hash<std::string_view>{}(key);
}

}  // namespace

const JsonNodePtr* JsonObject::find(std::string_view key) const noexcept {
  std::size_t i = indexOf(key);
  return i == kMissing ? nullptr : &members_[i].value;
}

void JsonObject::set(std::string key, JsonNodePtr value) {
  if (std::size_t i = indexOf(key); i != kMissing) {
    members_[i].value = std::move(value);
    return;
  }
  members_.push_back(JsonMember{std::move(key), std::move(value)});
  std::size_t count = members_.size();
  if (count <= kJsonObjectScanLimit) return;
  if (count * 2 > slots_.size()) {
    rebuildIndex(std::bit_ceil(count * 4));
  } else {
    addToIndex(count - 1);
  }
}

std::size_t JsonObject::indexOf(std::string_view key) const noexcept {
  if (slots_.empty()) {
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (members_[i].key == key) return i;
    }
    return kMissing;
  }
  std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hashKey(key) & mask;; slot = (slot + 1) & mask) {
    std::uint32_t entry = slots_[slot];
    if (entry == 0) return kMissing;
    if (members_[entry - 1].key == key) return entry - 1;
  }
}

void JsonObject::rebuildIndex(std::size_t slotCount) {
  slots_.assign(slotCount, 0);
  for (std::size_t i = 0; i < members_.size(); ++i)
    addToIndex(i);
}

void JsonObject::addToIndex(std::size_t member) noexcept {
  std::size_t mask = slots_.size() - 1;
  std::size_t slot = hashKey(members_[member].key) & mask;
  while (slots_[slot] != 0)
    slot = (slot + 1) & mask;
  slots_[slot] = static_cast<std::uint32_t>(member + 1);
}

}  // namespace relaydash
