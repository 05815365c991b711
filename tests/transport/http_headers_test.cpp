#include "transport/http_headers.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relaydash {
namespace {

using Values = std::vector<std::string>;

TEST(HttpHeaders, NamesAreNormalisedOnStoreAndLookup) {
  HttpHeaders lower;
  lower.set("Content-TYPE", "text/plain");
  EXPECT_EQ(lower.begin()->name, "content-type");
  EXPECT_TRUE(lower.hasKey("CONTENT-type"));

  HttpHeaders title(true);
  title.set("content-TYPE", "text/plain");
  title.set("x-forwarded-for", "a");
  EXPECT_EQ(title.begin()->name, "Content-Type");
  EXPECT_EQ((title.begin() + 1)->name, "X-Forwarded-For");
  EXPECT_EQ(title.first("CONTENT-TYPE"), "text/plain");
}

TEST(HttpHeaders, SettingReplacesAndAnEmptyListRemoves) {
  HttpHeaders h;
  h.set("a", Values{"1", "2"});
  h.set("b", "x");
  h.set("a", "3");
  EXPECT_EQ(*h.find("a"), Values{"3"});
  EXPECT_EQ(h.begin()->name, "a");  // the position stays
  h.set("a", Values{});
  EXPECT_FALSE(h.hasKey("a"));
  EXPECT_EQ(h.size(), 1u);
  EXPECT_EQ(h.getOrDefault("missing"), Values{""});
  EXPECT_EQ(h.first("missing"), "");
}

TEST(HttpHeaders, ValueTestIgnoresCase) {
  HttpHeaders h;
  h.set("connection", Values{"keep-alive", "Upgrade"});
  EXPECT_TRUE(h.hasValue("Connection", "upgrade"));
  EXPECT_TRUE(h.hasValue("connection", "KEEP-ALIVE"));
  EXPECT_FALSE(h.hasValue("connection", "close"));
  EXPECT_FALSE(h.hasValue("other", ""));
}

TEST(HttpHeaders, ManyNamesStayFindableAcrossClears) {
  HttpHeaders h;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 500; ++i)
      h.set("x-" + std::to_string(i), std::to_string(i + round));
    ASSERT_EQ(h.size(), 500u);
    for (int i = 0; i < 500; i += 37) {
      EXPECT_EQ(h.first("X-" + std::to_string(i)), std::to_string(i + round));
    }
    h.remove("x-3");
    EXPECT_FALSE(h.hasKey("x-3"));
    EXPECT_EQ(h.first("x-4"), std::to_string(4 + round));
    h.clear();
    EXPECT_FALSE(h.hasKey("x-4"));
  }
}

// The count of storage is kept between changes; every way the map can grow counts again, or a
// connection would keep what a large request left behind.
TEST(HttpHeaders, StorageIsCountedAgainAfterEveryChange) {
  HttpHeaders h;
  std::size_t last = h.storageBytes();
  const auto grew = [&] {
    const std::size_t now = h.storageBytes();
    const bool more = now > last;
    last = now;
    return more;
  };
  h.set("a", "x");
  EXPECT_TRUE(grew()) << "a name";
  h.set("a", std::string(100, 'v'));
  EXPECT_TRUE(grew()) << "a longer value";
  h.reset("a", 3)[2].assign(std::string(200, 'w'));
  EXPECT_TRUE(grew()) << "values filled in place";
  h.clear();
  h.set("b", std::string(1000, 'v'));
  EXPECT_TRUE(grew()) << "after a clear";
  for (int i = 0; i < 30; ++i)
    h.set("name-" + std::to_string(i), "v");
  EXPECT_TRUE(grew()) << "the index";
  EXPECT_EQ(h.first(std::string(1000, 'n')), "");
  EXPECT_TRUE(grew()) << "a long name looked up through the index";
  h.releaseStorage();
  EXPECT_LT(h.storageBytes(), last);
}

}  // namespace
}  // namespace relaydash
