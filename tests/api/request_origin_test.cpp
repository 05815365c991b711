// Which requests reach the API's procedures at all: pages of other sites and names the gateway
// does not answer to are refused before anything runs; the preflight and the other paths answer
// everyone as before.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/allowed_hosts.hpp"
#include "json/parser.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::LoopbackClient;
using testing::Reply;
using ManagementApi = testing::ManagementApi;

class RequestOrigin : public ManagementApi {
 protected:
  // The whole answer to a request with the given header lines ("Name: value\r\n" each).
  std::string ask(const std::string& method, const std::string& path, const std::string& headers,
                  const std::string& body = "") {
    LoopbackClient client(thread->port());
    client.send(method + " " + path + " HTTP/1.1\r\n" + headers +
                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    return client.readAnswer();
  }

  Reply callWith(const std::string& headers, const std::string& path, const std::string& body) {
    const std::string answer = ask("POST", path, headers, body);
    return {std::stoi(answer.substr(9, 3)), answer.substr(answer.find("\r\n\r\n") + 4)};
  }

  Reply loginWith(const std::string& headers, const std::string& password = "quilm") {
    return callWith(headers, "/rpc/login/password",
                    R"({"username":"admin","password":")" + password + "\"}");
  }

  // The audit trail's actions and outcomes, newest first.
  std::vector<std::string> trail() {
    const Reply reply = guarded("/rpc/audit/list");
    std::vector<std::string> rows;
    EXPECT_EQ(reply.status, 200) << reply.body;
    if (reply.status != 200) return rows;
    const JsonNodePtr answer = parseJson(reply.body);
    for (const JsonNodePtr& e : answer->at("output")->at("entries")->array())
      rows.push_back(e->at("action")->getString() + " " + e->at("outcome")->getString());
    return rows;
  }

  std::string own() const { return "127.0.0.1:" + std::to_string(thread->port()); }
};

const Reply kCrossSite{403, error(28004, "Request from another site's page")};

TEST_F(RequestOrigin, APageOfAnotherSiteRunsNothingAndCountsForNothing) {
  const std::string token = this->token();
  const std::string host = "Host: " + own() + "\r\n";
  // Even the right password from another site's page is no sign-in; nor, however many times,
  // is a wrong one: none slows the operator down or leaves a row.
  for (const char* origin : {"http://attacker.example", "null", "http://127.0.0.2:9992"}) {
    SCOPED_TRACE(origin);
    const std::string headers = host + "Origin: " + origin + "\r\n";
    EXPECT_EQ(loginWith(headers), kCrossSite);
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(loginWith(headers, "guess"), kCrossSite);
    EXPECT_EQ(callWith(headers, "/rpc/sshd/start", R"({"auth":")" + token + "\"}"), kCrossSite);
    EXPECT_EQ(callWith(headers, "/rpc/forwarder-config/patch",
                       R"({"auth":")" + token + R"(","input":{"gateway_conf":{"x":1}}})"),
              kCrossSite);
    // A body that is no JSON is refused the same way: nothing reads it.
    EXPECT_EQ(callWith(headers + "Content-Type: text/plain\r\n", "/rpc/v1/login/password", "x"),
              kCrossSite);
  }
  EXPECT_EQ(context->signIns.addressCount(), 0u);
  EXPECT_EQ(systemctl.calls(), std::vector<std::string>{});
  EXPECT_EQ(trail(), (std::vector<std::string>{"sign-in success", "sign-in success"}));

  // The page's own origin, and a client that sends none, are served.
  EXPECT_EQ(loginWith(host + "Origin: http://" + own() + "\r\n").status, 200);
  EXPECT_EQ(loginWith(host).status, 200);
  EXPECT_EQ(loginWith("Origin: http://" + own() + "\r\n"), kCrossSite);
}

TEST_F(RequestOrigin, ANameTheGatewayDoesNotAnswerToIsRefusedWithTheWayToAllowIt) {
  const std::string token = this->token();
  // A rebinding attacker's page: its own origin, under the attacker's name.
  const std::string rebound =
      "Host: attacker.example:9992\r\nOrigin: http://attacker.example:9992\r\n";
  const Reply refused{403, error(28005,
                                 "This gateway does not answer to the name attacker.example: use "
                                 "its address, or add the name to RELAYDASH_ALLOWED_HOSTS in "
                                 "/etc/default/relaydash and restart relaydash (systemctl "
                                 "restart relaydash)")};
  EXPECT_EQ(loginWith(rebound), refused);
  EXPECT_EQ(callWith(rebound, "/rpc/sshd/start", R"({"auth":")" + token + "\"}"), refused);
  EXPECT_EQ(callWith(rebound, "/rpc/gateway/status", R"({"auth":")" + token + "\"}"), refused);
  EXPECT_EQ(systemctl.calls(), std::vector<std::string>{});

  // The names it does answer to: addresses, localhost, its host name and the operator's list.
  std::array<char, 256> name{};
  ASSERT_EQ(::gethostname(name.data(), name.size() - 1), 0);
  const std::string hostName = name.data();
  const std::string label = hostName.substr(0, hostName.find('.'));
  ASSERT_EQ(::setenv(kAllowedHostsVariable, "gw.example.net , relay.lan", 1), 0);
  context->allowedHosts = allowedHostsAtStart();
  ::unsetenv(kAllowedHostsVariable);
  for (const std::string& host :
       std::vector<std::string>{"127.0.0.1", "[::1]:9992", "localhost:9992", hostName,
                                label + ".local", "GW.example.net:9992", "relay.lan"}) {
    SCOPED_TRACE(host);
    EXPECT_EQ(loginWith("Host: " + host + "\r\nOrigin: http://" + host + "\r\n").status, 200);
    EXPECT_EQ(loginWith("Host: " + host + "\r\n").status, 200);
  }
  EXPECT_EQ(loginWith("Host: example.net\r\n").status, 403);
}

TEST_F(RequestOrigin, ThePreflightTheHealthCheckAndOtherPathsAnswerEveryoneAsBefore) {
  const std::string preflight =
      "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
      "Access-Control-Allow-Methods: POST, OPTIONS\r\nAccess-Control-Allow-Headers: "
      "Content-Type\r\nAccess-Control-Max-Age: 86400\r\nContent-Length: 0\r\n\r\n";
  const std::string health = ask("GET", "/health", "");
  EXPECT_EQ(health.substr(0, 15), "HTTP/1.1 200 OK");
  for (const std::string& headers :
       std::vector<std::string>{"", "Host: attacker.example\r\nOrigin: http://attacker.example\r\n",
                                "Host: " + own() + "\r\nOrigin: null\r\n"}) {
    SCOPED_TRACE(headers);
    EXPECT_EQ(
        ask("OPTIONS", "/rpc/login/password", headers + "Access-Control-Request-Method: POST\r\n"),
        preflight);
    EXPECT_EQ(ask("GET", "/health", headers), health);
  }
}

}  // namespace
}  // namespace relaydash
