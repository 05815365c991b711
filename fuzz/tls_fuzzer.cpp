// Feeds arbitrary bytes to one connection of the transport with HTTPS on, as a peer would send
// them: a first byte of 0x16 takes them to the TLS side, which reads them as a client's
// handshake (and, should one ever complete, what follows as records). It must never crash,
// hang or touch memory it should not; whatever it answers goes to the peer and is dropped.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/event_loop.hpp"
#include "tls/tls_server.hpp"
#include "transport/answer_writer.hpp"
#include "transport/connection.hpp"

using namespace relaydash;

namespace {

Task<void> answer(Request& request) {
  co_await request.writer->write(200, {}, request.url.path);
}

// The server's TLS side, set up once in a folder of its own, before the loop runs.
TlsServer& tlsServer() {
  static const std::unique_ptr<TlsServer> server = [] {
    char folder[] = "/tmp/relaydash-tls-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    auto made =
        std::make_unique<TlsServer>(TlsSettings{true, std::string(folder) + "/installed", false},
                                    std::string(folder) + "/state");
    if (!made->on()) std::abort();
    return made;
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  TlsServer& tls = tlsServer();
  static EventLoop loop;
  static Connections connections(4096, false);
  connections.callback = answer;
  connections.openSecure = [&tls](int fd, std::string_view received) {
    return tls.open(fd, received);
  };
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  FileDescriptor peer(fds[1]);
  if (::send(peer.get(), input.data(), input.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(size))
    return 0;
  ::shutdown(peer.get(), SHUT_WR);
  loop.blockOn(serveConnection(FileDescriptor(fds[0]), PeerAddress("fuzz"), connections));
  char sink[65536];
  while (::recv(peer.get(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  return 0;
}
