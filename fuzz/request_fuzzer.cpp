// Feeds arbitrary bytes to one connection of the HTTP transport, as a peer would send them,
// and lets every request reach a callback that answers it. Checks only that nothing crashes,
// hangs or touches memory it should not; the wire-level tests check the answers.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/event_loop.hpp"
#include "runtime/socket.hpp"
#include "transport/connection.hpp"
#include "transport/connection_registry.hpp"
#include "transport/request_parser.hpp"

using namespace relaydash;

namespace {

Task<void> answer(Request& request) {
  // Touch what the parser produced so the sanitizers see every byte of it.
  std::size_t seen = request.body.size() + request.url.path.size() + request.url.query.size();
  for (const auto& [name, values] : request.headers) {
    seen += name.size();
    for (const auto& v : values)
      seen += v.size();
  }
  co_await request.client->write(seen % 2 ? std::string_view("HTTP/1.1 200 OK\r\n\r\n")
                                          : std::string_view("HTTP/1.1 204 No Content\r\n\r\n"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static EventLoop loop;
  static ConnectionRegistry registry;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  FileDescriptor peer(fds[1]);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (::send(peer.get(), input.data(), input.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(size))
    return 0;
  ::shutdown(peer.get(), SHUT_WR);
  {
    Socket server{FileDescriptor(fds[0])};
    const RequestCallback callback = answer;
    loop.blockOn(serveConnection(server, "fuzz", callback, 4096, registry));
  }
  // Drain the answers so the next input starts clean.
  char sink[65536];
  while (::recv(peer.get(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  return 0;
}
