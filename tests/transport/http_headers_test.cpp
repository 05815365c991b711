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

}  // namespace
}  // namespace relaydash
