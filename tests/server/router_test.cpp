#include "server/router.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relaydash {
namespace {

using Segments = std::vector<std::string_view>;

TEST(NormalizedSplit, DropsEmptySegmentsOnly) {
  EXPECT_EQ(normalizedSplit(""), Segments{});
  EXPECT_EQ(normalizedSplit("///"), Segments{});
  EXPECT_EQ(normalizedSplit("/a//b/"), (Segments{"a", "b"}));
  EXPECT_EQ(normalizedSplit("./../A%20b"), (Segments{".", "..", "A%20b"}));
}

TEST(Router, DeepestMountedPrefixWins) {
  Router<std::string> router("default");
  router.mount("ui", "ui");
  router.mount("health", "health");
  router.mount("rpc", "rpc");
  router.mount("rpc/v1", "rpc/v1");
  struct Case {
    std::string path, value, rest;
  } cases[] = {
      {"/rpc/v1/login/password", "rpc/v1", "login/password"},
      {"/rpc/v2/login", "rpc", "v2/login"},
      {"/rpc/v1", "rpc/v1", ""},
      {"/ui///static/app.js", "ui", "static/app.js"},
      {"/ui/static//css///a.css/", "ui", "static/css/a.css"},
      {"/UI/index.html", "default", "UI/index.html"},
      {"/uix", "default", "uix"},
      {"/", "default", ""},
      {"", "default", ""},
  };
  // Each path twice: the second lookup is answered from the router's memory of the last path,
  // into a scratch string that the first one did not use.
  for (const Case& c : cases) {
    for (int time = 0; time < 2; ++time) {
      std::string scratch = time == 0 ? "" : "left over";
      const std::string path = c.path;  // a copy in other memory
      const auto match = router.route(path, scratch);
      EXPECT_EQ(match.value, c.value) << c.path << ", time " << time;
      EXPECT_EQ(match.rest, c.rest) << c.path << ", time " << time;
    }
  }
}

TEST(Router, MountingForgetsTheLastPath) {
  Router<std::string> router("default");
  EXPECT_EQ(router.route("/a/b"), (std::pair<std::string, std::string>{"default", "a/b"}));
  router.mount("a", "a");
  EXPECT_EQ(router.route("/a/b"), (std::pair<std::string, std::string>{"a", "b"}));
  router.setDefault("other");
  EXPECT_EQ(router.route("/b"), (std::pair<std::string, std::string>{"other", "b"}));
}

TEST(Router, NodesWithoutValuesDoNotMatch) {
  Router<std::string> router("default");
  router.mount("p/q/r", "pqr");
  EXPECT_EQ(router.route("/p/q"), (std::pair<std::string, std::string>{"default", "p/q"}));
  EXPECT_EQ(router.route("/p/q/r/s"), (std::pair<std::string, std::string>{"pqr", "s"}));
  EXPECT_EQ(router.route("/p/q/t"), (std::pair<std::string, std::string>{"default", "p/q/t"}));
}

TEST(Router, MountingAgainReplacesAndTheEmptyPathIsTheDefault) {
  Router<std::string> router("default");
  router.mount("a/b", "first");
  router.mount("/a/b/", "second");
  EXPECT_EQ(router.root().children.size(), 1u);
  EXPECT_EQ(router.route("/a/b").first, "second");
  router.mount("", "root");
  EXPECT_EQ(router.route("/zzz").first, "root");
  router.mount("/", "slash");
  EXPECT_EQ(router.route("/zzz").first, "slash");
  router.setDefault("set");
  EXPECT_EQ(router.route("/").first, "set");
}

TEST(Router, AKnownSegmentInTheWrongPlaceStopsTheWalk) {
  Router<std::string> router("default");
  router.mount("x/y", "xy");
  router.mount("y", "y");
  EXPECT_EQ(router.segmentCount(), 2u);
  EXPECT_EQ(router.route("/y/x"), (std::pair<std::string, std::string>{"y", "x"}));
}

TEST(Router, RestIsAViewWhenThePathAlreadyReadsThatWay) {
  Router<int> router(0);
  router.mount("rpc", 1);
  std::string scratch;
  const std::string path = "/rpc/forwarder-config/patch";
  const auto match = router.route(path, scratch);
  EXPECT_EQ(match.rest, "forwarder-config/patch");
  EXPECT_TRUE(scratch.empty());
  EXPECT_GE(match.rest.data(), path.data());
  EXPECT_LT(match.rest.data(), path.data() + path.size());
}

}  // namespace
}  // namespace relaydash
