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

std::string_view restOfPath(std::string_view path, std::size_t from, std::string& scratch) {
  std::string_view rest = path.substr(from);
  while (!rest.empty() && rest.front() == '/')
    rest.remove_prefix(1);
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
