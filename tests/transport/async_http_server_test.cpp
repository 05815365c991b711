#include "transport/async_http_server.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "runtime/event_loop.hpp"
#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"
#include "support/loopback_client.hpp"
#include "support/notify_socket.hpp"
#include "support/server_thread.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

using testing::LoopbackClient;
using testing::NotifyReceiver;
using testing::NotifySocketVariable;
using testing::ServerThread;

Task<void> answerNothing(Request&) {
  co_return;
}

// The service manager hears READY=1 only once the server listens: a Type=notify unit is then
// started, and its start job fails when the server could not bind.
TEST(AsyncHttpServer, SaysReadyToTheServiceManagerOnceListening) {
  const TempDir folder;
  const NotifyReceiver manager(folder / "notify");
  const NotifySocketVariable variable(folder / "notify");

  AsyncHttpServer server(true, false, 4096);
  const ServerThread thread([&server] {
    EventLoop::current().spawn(server.serve(0, answerNothing, "127.0.0.1", 5));
    return server.localPort();
  });
  EXPECT_EQ(manager.next(), "READY=1");
  EXPECT_EQ(manager.next(), "(none)");
  // Connecting works at once: the port was listening when the word went out.
  EXPECT_NO_THROW(LoopbackClient client(thread.port()));

  // A port taken by another socket: the server fails and says nothing.
  const FileDescriptor taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken.get(), 1), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(taken.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  AsyncHttpServer refused(false, false, 4096);
  EventLoop loop;
  EXPECT_THROW(loop.blockOn(refused.serve(ntohs(address.sin_port), answerNothing, "127.0.0.1", 5)),
               OSError);
  EXPECT_EQ(manager.next(), "(none)");
}

}  // namespace
}  // namespace relaydash
