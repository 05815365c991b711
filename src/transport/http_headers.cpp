#include "transport/http_headers.hpp"

#include <algorithm>

#include "ascii/ascii.hpp"
namespace relaydash {
namespace {

using ascii::equalsIgnoreCase;
using ascii::toLower;
using ascii::toUpper;

const std::vector<std::string> kOneEmptyValue{std::string()};

}  // namespace

void HttpHeaders::normalise(std::string_view name, std::string& into) const {
  if (!isTitleCase_) {
    into.resize(name.size());
    std::transform(name.begin(), name.end(), into.begin(), toLower);
    return;
  }
  into.assign(name);
  bool startOfWord = true;
  for (char& c : into) {
    c = startOfWord ? toUpper(c) : toLower(c);
    startOfWord = c == '-';
  }
}

std::ptrdiff_t HttpHeaders::indexOf(std::string_view name) const {
  if (!index_.empty()) {
    counted_ = kUncounted;  // the scratch string may grow
    normalise(name, scratch_);
    const auto it = index_.find(scratch_);
    return it == index_.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
  }
  // Both normal forms only change the case of letters, so two names have the same normal form
  // exactly when they are equal ignoring case: no need to normalise the name looked up.
  for (std::size_t i = 0; i < size_; ++i) {
    if (equalsIgnoreCase(entries_[i].name, name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

HttpHeaders::Entry& HttpHeaders::append(std::string_view name) {
  if (size_ == entries_.size()) entries_.emplace_back();
  Entry& entry = entries_[size_];
  normalise(name, entry.name);
  ++size_;
  if (!index_.empty()) {
    index_.emplace(entry.name, static_cast<std::uint32_t>(size_ - 1));
  } else if (size_ > kIndexThreshold) {
    rebuildIndex();
  }
  return entry;
}

void HttpHeaders::rebuildIndex() {
  index_.clear();
  if (size_ <= kIndexThreshold) return;
  index_.reserve(size_ * 2);
  for (std::size_t i = 0; i < size_; ++i)
    index_.emplace(entries_[i].name, static_cast<std::uint32_t>(i));
}

std::vector<std::string>& HttpHeaders::reset(std::string_view name, std::size_t count) {
  counted_ = kUncounted;
  const std::ptrdiff_t i = indexOf(name);
  Entry& entry = i >= 0 ? entries_[static_cast<std::size_t>(i)] : append(name);
  entry.values.resize(count);
  return entry.values;
}

void HttpHeaders::set(std::string_view name, const std::vector<std::string>& values) {
  if (values.empty()) {
    remove(name);
    return;
  }
  auto& stored = reset(name, values.size());
  std::copy(values.begin(), values.end(), stored.begin());
}

void HttpHeaders::set(std::string_view name, std::string_view value) {
  reset(name, 1).front().assign(value);
}

void HttpHeaders::remove(std::string_view name) {
  const std::ptrdiff_t i = indexOf(name);
  if (i < 0) return;
  counted_ = kUncounted;
  // Keep the order of the others; the removed entry's storage moves to the spare end.
  std::rotate(entries_.begin() + i, entries_.begin() + i + 1,
              entries_.begin() + static_cast<std::ptrdiff_t>(size_));
  --size_;
  if (!index_.empty()) rebuildIndex();
}

const std::vector<std::string>* HttpHeaders::find(std::string_view name) const {
  const std::ptrdiff_t i = indexOf(name);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].values;
}

const std::vector<std::string>& HttpHeaders::getOrDefault(std::string_view name) const {
  const auto* values = find(name);
  return values ? *values : kOneEmptyValue;
}

std::string_view HttpHeaders::first(std::string_view name) const {
  const auto* values = find(name);
  return values && !values->empty() ? std::string_view(values->front()) : std::string_view();
}

bool anyEqualsIgnoreCase(const std::vector<std::string>& values, std::string_view text) noexcept {
  return std::any_of(values.begin(), values.end(),
                     [&](const std::string& v) { return equalsIgnoreCase(v, text); });
}

bool HttpHeaders::hasValue(std::string_view name, std::string_view value) const {
  const auto* values = find(name);
  return values && anyEqualsIgnoreCase(*values, value);
}

void HttpHeaders::clear() noexcept {
  counted_ = kUncounted;
  size_ = 0;
  if (!index_.empty()) index_.clear();
}

std::size_t HttpHeaders::storageBytes() const noexcept {
  if (counted_ != kUncounted) return counted_;
  std::size_t bytes = entries_.capacity() * sizeof(Entry) + scratch_.capacity();
  for (const Entry& entry : entries_) {
    bytes += entry.name.capacity() + entry.values.capacity() * sizeof(std::string);
    for (const std::string& value : entry.values)
      bytes += value.capacity();
  }
  // The index's nodes are gone after clear(); its bucket array stays.
  counted_ = bytes + index_.bucket_count() * sizeof(void*);
  return counted_;
}

void HttpHeaders::releaseStorage() noexcept {
  // Swapped with empty ones: clear() and shrink_to_fit() would keep the buckets or may keep the
  // capacity.
  std::vector<Entry>().swap(entries_);
  std::unordered_map<std::string, std::uint32_t>().swap(index_);
  std::string().swap(scratch_);
  size_ = 0;
  counted_ = kUncounted;
}

}  // namespace relaydash
