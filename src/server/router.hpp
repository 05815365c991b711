#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ascii/bytes.hpp"

namespace relaydash {

// The non-empty segments of a path, in order: leading, trailing and repeated slashes vanish;
// nothing else changes (no case folding, no decoding; "." and ".." are ordinary segments).
std::vector<std::string_view> normalizedSplit(std::string_view path);

// Calls f(segment) for each non-empty segment until f returns false; allocates nothing.
template <typename F>
void forEachSegment(std::string_view path, F&& f) {
  std::size_t i = 0;
  while (i < path.size()) {
    if (path[i] == '/') {
      ++i;
      continue;
    }
    const std::size_t end = std::min(path.find('/', i), path.size());
    if (!f(path.substr(i, end - i))) return;
    i = end;
  }
}

// The segments of `path` after byte `from` (which is not inside a segment), joined by "/". A view
// into the path when the path already reads that way, else written into `scratch`.
std::string_view restOfPath(std::string_view path, std::size_t from, std::string& scratch);

// Maps paths to values by the deepest mounted prefix of whole segments. The root stands for the
// empty path and always holds a value, the default. Filled at start-up, then only read.
template <typename T>
class Router {
 public:
  struct Node {
    std::optional<T> handler;
    std::vector<std::pair<std::uint32_t, std::unique_ptr<Node>>> children;

    // The first child with the id, or nullptr.
    Node* operator[](std::uint32_t id) const noexcept {
      for (const auto& [childId, child] : children) {
        if (childId == id) return child.get();
      }
      return nullptr;
    }
  };

  // A lookup's answer: the value, and the rest of the path below the matched prefix (a view
  // into the looked-up path or into the scratch string given to route).
  struct Match {
    const T& value;
    std::string_view rest;
  };

  explicit Router(T defaultValue) { root_.handler.emplace(std::move(defaultValue)); }

  // Puts the value on the node of the path, creating the nodes on the way; the empty path (or
  // "/") replaces the default. Mounting a path again replaces its value.
  void mount(std::string_view path, T value) {
    Node* node = &root_;
    forEachSegment(path, [&](std::string_view segment) {
      const std::uint32_t id = idOf(segment);
      Node* child = (*node)[id];
      if (!child) {
        node->children.emplace_back(id, std::make_unique<Node>());
        child = node->children.back().second.get();
      }
      node = child;
      return true;
    });
    node->handler = std::move(value);
    last_.value = nullptr;
  }

  // Replaces the default value.
  void setDefault(T value) {
    root_.handler = std::move(value);
    last_.value = nullptr;
  }

  // The value of the deepest node on the path that holds one, and the rest below it. Allocates
  // nothing unless the rest must be re-joined (repeated slashes inside it).
  Match route(std::string_view path, std::string& scratch) const {
    if (last_.value && ascii::sameBytes(path, last_.path))
      return Match{*last_.value, path.substr(last_.restFrom, last_.restSize)};
    const Match match = lookUp(path, scratch);
    remember(path, match, scratch);
    return match;
  }

  // The same, with the rest as its own string.
  std::pair<T, std::string> route(std::string_view path) const {
    std::string scratch;
    const Match match = route(path, scratch);
    return {match.value, std::string(match.rest)};
  }

  const Node& root() const noexcept { return root_; }
  std::size_t segmentCount() const noexcept { return segments_.size(); }

 private:
  static constexpr std::size_t kMaxRememberedPath = 256;

  Match lookUp(std::string_view path, std::string& scratch) const {
    const Node* node = &root_;
    const T* best = &*root_.handler;
    std::size_t matchedEnd = 0;  // where the deepest segment holding a value ends
    forEachSegment(path, [&](std::string_view segment) {
      const auto id = segments_.find(segment);
      if (id == segments_.end()) return false;
      node = (*node)[id->second];
      if (!node) return false;
      if (node->handler) {
        best = &*node->handler;
        matchedEnd = static_cast<std::size_t>(segment.data() - path.data()) + segment.size();
      }
      return true;
    });
    return Match{*best, restOfPath(path, matchedEnd, scratch)};
  }

  // Remembers a path whose rest is a part of it, not re-joined in the scratch string, so that
  // the same path again is answered from here.
  void remember(std::string_view path, const Match& match, const std::string& scratch) const {
    if (path.size() > kMaxRememberedPath ||
        (!match.rest.empty() && match.rest.data() == scratch.data())) {
      last_.value = nullptr;
      return;
    }
    last_.path.assign(path);
    last_.value = &match.value;
    last_.restFrom =
        match.rest.empty() ? 0 : static_cast<std::size_t>(match.rest.data() - path.data());
    last_.restSize = match.rest.size();
  }

  struct Hash {
    using is_transparent = void;
    // FNV-1a: segments are a few bytes, where it costs less than the library's string hash.
    std::size_t operator()(std::string_view s) const noexcept {
      std::uint64_t h = 14695981039346656037u;
      for (const char c : s)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
      return static_cast<std::size_t>(h);
    }
  };

  std::uint32_t idOf(std::string_view segment) {
    const auto found = segments_.find(segment);
    if (found != segments_.end()) return found->second;
    const auto id = static_cast<std::uint32_t>(segments_.size());
    segments_.emplace(std::string(segment), id);
    return id;
  }

  std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>> segments_;
  Node root_;
  // The last path looked up and where it led: a client polling one path asks for it again and
  // again. The router is only read once it is filled, by one thread.
  struct Last {
    std::string path;
    const T* value = nullptr;  // nullptr: nothing remembered
    std::size_t restFrom = 0;
    std::size_t restSize = 0;
  };
  mutable Last last_;
};

template <typename T>
Router<T> newRouter(T defaultValue) {
  return Router<T>(std::move(defaultValue));
}

}  // namespace relaydash
