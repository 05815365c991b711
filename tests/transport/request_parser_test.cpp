#include "transport/request_parser.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace relaydash {
namespace {

using Values = std::vector<std::string>;

TEST(HeaderLine, SplitsValuesAtCommasKeepingTrailingSpace) {
  struct Case {
    std::string line, name;
    Values values;
  } cases[] = {
      {"Accept: a, b ,c", "accept", {"a", "b ", "c"}},
      {"Cookie: x=1, y=2", "cookie", {"x=1, y=2"}},
      {"COOKIE:   k=v", "cookie", {"k=v"}},
      {"Host: example", "host", {"example"}},
      {"X-Empty:", "x-empty", {""}},
      {"NoColonAtAll", "nocolonatall", {""}},
      {"Spaces:   ", "spaces", {""}},
      {"Odd: a,,b,", "odd", {"a", "", "b", ""}},
      {"Time: 12:30", "time", {"12:30"}},
      {": orphan", "", {"orphan"}},
  };
  for (const Case& c : cases) {
    HttpHeaders headers;
    EXPECT_EQ(parseHeaderLine(c.line, headers), c.values.size()) << c.line;
    ASSERT_TRUE(headers.hasKey(c.name)) << c.line;
    EXPECT_EQ(*headers.find(c.name), c.values) << c.line;
    EXPECT_EQ(headers.size(), 1u) << c.line;
  }
}

TEST(HeaderLine, AnEmptyNameWithoutValueStoresNothingAndRepeatsReplace) {
  HttpHeaders headers;
  EXPECT_EQ(parseHeaderLine(":", headers), 0u);
  EXPECT_TRUE(headers.empty());
  parseHeaderLine("X-A: 1, 2, 3", headers);
  parseHeaderLine("x-a: 4", headers);
  EXPECT_EQ(*headers.find("X-A"), Values{"4"});
}

TEST(ContentLength, AcceptedForms) {
  struct Case {
    std::string text;
    std::optional<long long> value;
  } cases[] = {
      {"12", 12},
      {"+5", 5},
      {"1_0", 10},
      {"12abc", 12},
      {"0", 0},
      {"4096", 4096},
      {"1__0", 1},
      {"1_", 1},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"-5", std::nullopt},
      {"_1", std::nullopt},
      {" 5", std::nullopt},
      {"+", std::nullopt},
      {"99999999999999999999999", 2147483647},
      {"2147483648", 2147483647},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseContentLength(c.text), c.value) << c.text;
}

TEST(RequestLine, MethodsAreExactAndPartsAreCounted) {
  struct Case {
    std::string line;
    RequestLineStatus status;
  } cases[] = {
      {"GET / HTTP/1.1", RequestLineStatus::Ok},
      {"OPTIONS * HTTP/1.0", RequestLineStatus::Ok},
      {"get / HTTP/1.1", RequestLineStatus::BadMethod},
      {"FETCH / HTTP/1.1", RequestLineStatus::BadMethod},
      {"\r\n", RequestLineStatus::BadMethod},
      {"GET / HTTP/1.1 ", RequestLineStatus::TooManyParts},
      {"GET / HTTP/1.1 extra", RequestLineStatus::TooManyParts},
      {"GET / FTP/1.1", RequestLineStatus::BadVersion},
      {"GET  / HTTP/1.1", RequestLineStatus::BadVersion},
      {"GET /", RequestLineStatus::Ok},
      {"DELETE", RequestLineStatus::Ok},
  };
  for (const Case& c : cases) {
    PreviousRequestLine previous;
    RequestHead head;
    EXPECT_EQ(parseRequestLine(c.line, previous, head), c.status) << c.line;
  }
}

TEST(RequestLine, MissingPartsKeepThePreviousRequestsValues) {
  PreviousRequestLine previous;
  RequestHead request;
  ASSERT_EQ(parseRequestLine("GET /", previous, request), RequestLineStatus::Ok);
  EXPECT_EQ(request.protocol.orig, "");
  EXPECT_EQ(request.protocol.major, 0);
  ASSERT_EQ(parseRequestLine("POST /a?x=1 HTTP/1.0", previous, request), RequestLineStatus::Ok);
  EXPECT_EQ(request.reqMethod, HttpMethod::HttpPost);
  EXPECT_EQ(request.url.path, "/a");
  EXPECT_EQ(request.url.query, "x=1");
  EXPECT_EQ(request.protocol.major, 1);
  EXPECT_EQ(request.protocol.minor, 0);
  // Another request's record, as a connection's next request may get: the parts left out come
  // from the connection's previous line all the same.
  RequestHead other;
  ASSERT_EQ(parseRequestLine("GET", previous, other), RequestLineStatus::Ok);
  EXPECT_EQ(other.reqMethod, HttpMethod::HttpGet);
  EXPECT_EQ(other.url.path, "/a");
  EXPECT_EQ(other.protocol.orig, "HTTP/1.0");
  // A refused line's parts before the bad one stay in force.
  EXPECT_EQ(parseRequestLine("PUT /b FTP/1.1", previous, other), RequestLineStatus::BadVersion);
  ASSERT_EQ(parseRequestLine("GET", previous, other), RequestLineStatus::Ok);
  EXPECT_EQ(other.url.path, "/b");
  EXPECT_EQ(other.protocol.minor, 0);
}

TEST(Protocol, VersionNumbers) {
  struct Case {
    std::string text;
    bool ok;
    int major, minor;
  } cases[] = {
      {"HTTP/1.1", true, 1, 1},  {"http/1.0", true, 1, 0}, {"HTTP/", true, 0, 0},
      {"HTTP/2", true, 2, 0},    {"HTTP/1x7", true, 1, 7}, {"HTTP/12.34", true, 12, 34},
      {"HTTX/1.1", false, 0, 0}, {"HTTP", false, 0, 0},
  };
  for (const Case& c : cases) {
    Protocol p;
    EXPECT_EQ(parseProtocol(c.text, p), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(p.major, c.major) << c.text;
    EXPECT_EQ(p.minor, c.minor) << c.text;
  }
}

TEST(Url, TargetsSplitIntoComponentsWithoutDecoding) {
  Url url;
  parseUrl("/a/b%20c?x=1&y#frag", url);
  EXPECT_EQ(url.path, "/a/b%20c");
  EXPECT_EQ(url.query, "x=1&y");
  EXPECT_EQ(url.anchor, "frag");
  EXPECT_TRUE(url.scheme.empty());

  parseUrl("http://user:pw@host:8080/p?q", url);
  EXPECT_EQ(url.scheme, "http");
  EXPECT_EQ(url.username, "user");
  EXPECT_EQ(url.password, "pw");
  EXPECT_EQ(url.hostname, "host");
  EXPECT_EQ(url.port, "8080");
  EXPECT_EQ(url.path, "/p");
  EXPECT_EQ(url.query, "q");
  EXPECT_EQ(url.anchor, "");

  parseUrl("http://[::1]:9/", url);
  EXPECT_TRUE(url.isIpv6);
  EXPECT_EQ(url.hostname, "::1");
  EXPECT_EQ(url.port, "9");

  parseUrl("//a//b/", url);
  EXPECT_EQ(url.path, "//a//b/");
  EXPECT_EQ(url.hostname, "");

  parseUrl("mailto:someone", url);
  EXPECT_TRUE(url.opaque);
  EXPECT_EQ(url.path, "someone");

  parseUrl("", url);
  EXPECT_EQ(url.path, "");
  EXPECT_FALSE(url.opaque);
}

}  // namespace
}  // namespace relaydash
