#include "server/request_origin.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/http_error.hpp"

namespace relaydash {
namespace {

// The code checkRequestOrigin refuses the head with, or 0 when it lets it through.
int refusal(const std::vector<std::string>& host, const std::vector<std::string>& origin,
            const AllowedHosts& allowed = {}) {
  RequestHead head;
  if (!host.empty()) head.headers.set("Host", host);
  if (!origin.empty()) head.headers.set("Origin", origin);
  try {
    checkRequestOrigin(head, allowed);
  } catch (const HttpException& e) {
    EXPECT_EQ(e.httpCode(), 403);
    return static_cast<int>(e.errorCode());
  }
  return 0;
}

constexpr int kCrossSite = 28004;
constexpr int kUnknownHost = 28005;

TEST(RequestOrigin, HostsThatNameThisMachineByAddressOrByAnAllowedName) {
  AllowedHosts allowed;
  allowed.addList(" gw.example.net,Relay-7 ,\tgateway.local.");
  const struct {
    const char* host;
    int refusal;
  } rows[] = {
      {"192.168.1.5", 0},
      {"192.168.1.5:9992", 0},
      {"[::1]:9992", 0},
      {"[fe80::1]", 0},
      {"localhost:9992", 0},
      {"LocalHost.", 0},
      {"GW.example.NET:80", 0},
      {"gw.example.net.", 0},
      {"relay-7", 0},
      {"gateway.local", 0},
      // Names a rebinding attacker's DNS answers for this machine.
      {"attacker.example:9992", kUnknownHost},
      {"example.net", kUnknownHost},
      {"gw.example.net.attacker.example", kUnknownHost},
      {"192.168.1", kUnknownHost},
      {"0x7f000001", kUnknownHost},
      {"a.localhost", kUnknownHost},
      // Not a host at all.
      {"::1", kUnknownHost},
      {"[::1", kUnknownHost},
      {"[::1]x", kUnknownHost},
      {"[gw.example.net]", kUnknownHost},
      {"192.168.1.5:", kUnknownHost},
      {"192.168.1.5:99999", kUnknownHost},
      {"192.168.1.5:80x", kUnknownHost},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.host);
    EXPECT_EQ(refusal({row.host}, {}, allowed), row.refusal);
  }
  // Two Host lines could name two hosts.
  EXPECT_EQ(refusal({"127.0.0.1", "127.0.0.1"}, {}, allowed), kUnknownHost);
  // None, or an empty one, says nothing: served as ever.
  EXPECT_EQ(refusal({}, {}, allowed), 0);
  EXPECT_EQ(refusal({""}, {}, allowed), 0);

  AllowedHosts any;
  any.addList("*");
  EXPECT_EQ(refusal({"anything.example:1"}, {}, any), 0);
  EXPECT_EQ(refusal({"bad:port"}, {}, any), kUnknownHost);
}

TEST(RequestOrigin, OnlyThePagesOwnOriginGetsThrough) {
  const struct {
    const char* host;
    const char* origin;
    int refusal;
  } rows[] = {
      {"127.0.0.1:9992", "http://127.0.0.1:9992", 0},
      {"LOCALHOST:9992", "http://localhost:9992", 0},
      {"127.0.0.1", "http://127.0.0.1:80", 0},
      {"127.0.0.1:80", "HTTP://127.0.0.1", 0},
      {"127.0.0.1", "https://127.0.0.1", 0},
      {"127.0.0.1:443", "https://127.0.0.1", 0},
      {"[::1]:9992", "http://[::1]:9992", 0},
      {"127.0.0.1:9992", "http://127.0.0.1:9993", kCrossSite},
      {"127.0.0.1:9992", "http://127.0.0.2:9992", kCrossSite},
      {"127.0.0.1", "https://127.0.0.1:80", kCrossSite},
      {"127.0.0.1:9992", "http://evil.example:9992", kCrossSite},
      {"127.0.0.1:9992", "null", kCrossSite},
      {"127.0.0.1:9992", "", kCrossSite},
      {"127.0.0.1:9992", "file://", kCrossSite},
      {"127.0.0.1:9992", "ftp://127.0.0.1:9992", kCrossSite},
      {"127.0.0.1:9992", "http://127.0.0.1:9992/", kCrossSite},
      {"127.0.0.1:9992", "http://", kCrossSite},
      {"127.0.0.1", "http://127.0.0.1:", kCrossSite},
      // The name is judged first: it is what the operator can mend.
      {"evil.example", "http://evil.example", kUnknownHost},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.host) + " " + row.origin);
    EXPECT_EQ(refusal({row.host}, {row.origin}), row.refusal);
  }
  // Without a Host there is no own origin to match; two Origin lines are no origin.
  EXPECT_EQ(refusal({}, {"http://127.0.0.1:9992"}), kCrossSite);
  EXPECT_EQ(refusal({"127.0.0.1"}, {"http://127.0.0.1", "http://127.0.0.1"}), kCrossSite);
}

TEST(RequestOrigin, TheRefusalOfANameSaysHowToAllowIt) {
  RequestHead head;
  head.headers.set("Host", "Gw.Example.Net:9992");
  try {
    checkRequestOrigin(head, AllowedHosts());
    FAIL() << "let through";
  } catch (const HttpException& e) {
    EXPECT_EQ(e.errorMessage(),
              "This gateway does not answer to the name Gw.Example.Net: use its address, or add "
              "the name to RELAYDASH_ALLOWED_HOSTS in /etc/default/relaydash and restart "
              "relaydash (systemctl restart relaydash)");
  }
}

}  // namespace
}  // namespace relaydash
