#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace relaydash {

// True when any of the values equals the text, ignoring ASCII case.
bool anyEqualsIgnoreCase(const std::vector<std::string>& values, std::string_view text) noexcept;

// A header map: names to non-empty lists of values. Names are normalised on every store and
// lookup: to lower case (request maps), or to title case ("Content-Type") when the map is made
// title-case. Names iterate in the order they were first stored.
//
// The map is built to be reused: clear() keeps every string's storage, so a connection that
// parses the same headers request after request stops allocating.
class HttpHeaders {
 public:
  struct Entry {
    std::string name;
    std::vector<std::string> values;
  };

  explicit HttpHeaders(bool isTitleCase = false) : isTitleCase_(isTitleCase) {}

  bool isTitleCase() const noexcept { return isTitleCase_; }

  // Replaces the name's values; an empty list removes the name.
  void set(std::string_view name, const std::vector<std::string>& values);
  void set(std::string_view name, std::string_view value);
  // Gives the name a list of `count` values (count >= 1) for the caller to assign in place.
  // The strings keep the storage of earlier values, so refilling allocates nothing.
  std::vector<std::string>& reset(std::string_view name, std::size_t count);
  void remove(std::string_view name);

  // The name's values, or nullptr when absent.
  const std::vector<std::string>* find(std::string_view name) const;
  bool hasKey(std::string_view name) const { return find(name) != nullptr; }
  // The name's values, or a list holding one empty text.
  const std::vector<std::string>& getOrDefault(std::string_view name) const;
  // The first value of the name, or an empty text.
  std::string_view first(std::string_view name) const;
  // True when any value of the name equals the text, ignoring ASCII case.
  bool hasValue(std::string_view name, std::string_view value) const;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  void clear() noexcept;
  // About how many bytes of memory the map holds, the storage kept for reuse included. Counted
  // again only after a change: the values a reset() hands out are to be filled before it is
  // asked.
  std::size_t storageBytes() const noexcept;
  // Empties the map and gives back all of its storage.
  void releaseStorage() noexcept;

  const Entry* begin() const noexcept { return entries_.data(); }
  const Entry* end() const noexcept { return entries_.data() + size_; }

 private:
  // Past this many names, lookups go through a hash index instead of a scan.
  static constexpr std::size_t kIndexThreshold = 24;

  std::ptrdiff_t indexOf(std::string_view name) const;
  void normalise(std::string_view name, std::string& into) const;
  Entry& append(std::string_view name);
  void rebuildIndex();

  std::vector<Entry> entries_;  // the first size_ are live; the rest keep storage for reuse
  std::size_t size_ = 0;
  std::unordered_map<std::string, std::uint32_t> index_;
  mutable std::string scratch_;
  static constexpr std::size_t kUncounted = static_cast<std::size_t>(-1);
  mutable std::size_t counted_ = kUncounted;  // storageBytes() since the last change
  bool isTitleCase_;
};

}  // namespace relaydash
