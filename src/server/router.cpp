#include "server/router.hpp"

namespace relaydash {

std::vector<std::string_view> normalizedSplit(std::string_view path) {
  std::vector<std::string_view> segments;
  forEachSegment(path, [&](std::string_view segment) {
    segments.push_back(segment);
    return true;
  });
  return segments;
}

std::string_view restOfPath(std::string_view path, std::size_t skip, std::string& scratch) {
  std::size_t index = 0;
  std::size_t begin = std::string_view::npos;
  forEachSegment(path, [&](std::string_view segment) {
    if (index++ == skip) {
      begin = static_cast<std::size_t>(segment.data() - path.data());
      return false;
    }
    return true;
  });
  if (begin == std::string_view::npos) return {};
  std::string_view rest = path.substr(begin);
  while (!rest.empty() && rest.back() == '/')
    rest.remove_suffix(1);
  if (rest.find("//") == std::string_view::npos) return rest;
  scratch.clear();
  forEachSegment(rest, [&](std::string_view segment) {
    if (!scratch.empty()) scratch += '/';
    scratch += segment;
    return true;
  });
  return scratch;
}

}  // namespace relaydash
