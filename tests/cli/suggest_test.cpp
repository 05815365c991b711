#include "cli/suggest.hpp"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace relaydash {
namespace {

TEST(Suggest, DamerauLevenshteinDistance) {
  const struct {
    std::string_view a, b;
    std::size_t distance;
  } cases[] = {
      {"", "", 0},
      {"", "abc", 3},
      {"abc", "", 3},
      {"port", "port", 0},
      {"Port", "port", 1},
      {"lisen", "listen", 1},
      {"prot", "port", 1},
      {"kitten", "sitting", 3},
      // Unrestricted: an edit may fall between the swapped characters (the restricted
      // variant gives 3 here).
      {"ca", "abc", 2},
      {"abcdef", "badcfe", 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(damerauLevenshtein(c.a, c.b), c.distance) << c.a << " / " << c.b;
    EXPECT_EQ(damerauLevenshtein(c.b, c.a), c.distance) << c.b << " / " << c.a;
  }
}

TEST(Suggest, WidensOneEditAtATimeAndStopsAtThree) {
  constexpr OptionRow kTable[] = {
      {.longName = "abxy"},
      {.longName = "abx"},
      {.longName = "version", .listed = false},  // hidden names are never offered
      {.longName = "abd-d"},
      {.longName = "zzzzzz"},
      {.longName = "xyz"},
      {.longName = "abdx"},
      {.longName = "abe"},
  };
  const struct {
    std::string_view key;
    std::vector<std::string_view> names;
  } cases[] = {
      // Four names at one edit: all of them, and abxy (2) and xyz (3) are left out.
      {"abd", {"abx", "abd-d", "abdx", "abe"}},
      // abxy at one edit, then abx and xyz at two make three: the names at three are left out.
      {"abxyz", {"abxy", "abx", "xyz"}},
      {"versio", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(suggestLongNames(kTable, c.key), c.names) << c.key;
}

}  // namespace
}  // namespace relaydash
