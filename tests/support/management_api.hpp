#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include "app/mounts.hpp"
#include "app/start_up.hpp"
#include "json/parser.hpp"
#include "runtime/event_loop.hpp"
#include "server/http_server.hpp"
#include "support/loopback_client.hpp"
#include "support/read_file.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/server_thread.hpp"
#include "support/temp_dir.hpp"
#include "transport/limits.hpp"

namespace relaydash::testing {

inline const std::string kSample =
    "tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json";

inline std::string error(int code, const std::string& message) {
  return R"({"error":{"code":)" + std::to_string(code) + R"(,"message":")" + message + "\"}}";
}

struct Reply {
  int status;
  std::string body;
  bool operator==(const Reply&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Reply& reply) {
  return out << reply.status << " " << reply.body;
}

inline const Reply kDone{200, R"({"output":{}})"};
inline const Reply kUnspecified{500, error(10000, "Unspecified error")};

// The application as start-up assembles it (without the web application's files), on a loopback
// port, over a copy of a real
// forwarder configuration and with the fake systemd tools on PATH.
class ManagementApi : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string configPath = dir.file("global_conf.json");
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  std::shared_ptr<Context> context;
  std::unique_ptr<HttpServer> server;
  std::optional<ServerThread> thread;

  void SetUp() override {
    systemctl.reset();
    std::ofstream(configPath, std::ios::binary) << readFile(kSample);
    startServer("packet-forwarder");
  }

  // A (re)start: a new context, and with it a new token key, over the same database.
  void startServer(const std::string& unit) {
    thread.reset();
    context = newContext(configPath, unit, dir.file("relaydash.sqlite3"));
    init(*context);
    server = newHttpServer(limits::kMaxRequestBody);
    mountApplication(*server, {});
    thread.emplace([this] {
      EventLoop::current().spawn(serve(
          *server, [this]() -> Context& { return *context; }, 0, "127.0.0.1"));
      return server->server->localPort();
    });
  }

  // The whole answer to a POST, as it came over the wire.
  std::string post(const std::string& path, const std::string& body) {
    LoopbackClient client(thread->port());
    client.send("POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body);
    return client.readAnswer();
  }

  Reply call(const std::string& path, const std::string& body) {
    const std::string answer = post(path, body);
    return {std::stoi(answer.substr(9, 3)), answer.substr(answer.find("\r\n\r\n") + 4)};
  }

  Reply login(const std::string& password) {
    return call("/rpc/v1/login/password", R"({"username":"admin","password":")" + password + "\"}");
  }

  // Fails the test rather than throwing: a test may be capturing standard output meanwhile.
  std::string token() {
    const JsonNodePtr output = parseJson(login("quilm").body)->get("output");
    const JsonNodePtr auth = output ? output->get("auth") : nullptr;
    EXPECT_TRUE(auth) << "the administrator cannot log in";
    return auth ? auth->getString() : "";
  }

  // A guarded call with a fresh token and the given members after "auth".
  Reply guarded(const std::string& path, const std::string& members = "") {
    return call(path,
                R"({"auth":")" + token() + "\"" + (members.empty() ? "" : ",") + members + "}");
  }
};

}  // namespace relaydash::testing
