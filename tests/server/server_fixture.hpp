#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "api/context.hpp"
#include "runtime/event_loop.hpp"
#include "server/http_server.hpp"
#include "support/loopback_client.hpp"
#include "support/server_thread.hpp"

namespace relaydash::testing {

// An in-process HttpServer on a loopback port: mount handlers, then start() and talk to it.
// Every session carries the application's own context, which the framework only hands on.
class FrameworkTest : public ::testing::Test {
 protected:
  Context context;
  std::unique_ptr<HttpServer> server = newHttpServer(4096);
  std::optional<ServerThread> thread;

  // Tells this context apart from any other, for the tests that check which one a session has.
  FrameworkTest() { context.forwarderUnitServiceName = "framework-test"; }

  void start() {
    thread.emplace([this] {
      EventLoop::current().spawn(relaydash::serve(
          *server, [this]() -> Context& { return context; }, 0, "127.0.0.1"));
      return server->server->localPort();
    });
  }

  int port() const { return thread->port(); }

  // One request on a new connection; the first answer.
  std::string ask(const std::string& request) {
    LoopbackClient client(port());
    client.send(request);
    return client.readAnswer();
  }
};

}  // namespace relaydash::testing
