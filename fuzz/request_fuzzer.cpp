// Feeds arbitrary bytes to one connection of the HTTP transport, as a peer would send them,
// and lets every request reach a callback that answers it. The bytes are also parsed as heads
// three times: whole, a byte at a time, and whole with repeated heads taken from a memo; the
// three must agree in every outcome and every head, or the target aborts. Beyond that it checks
// that nothing crashes, hangs or touches memory it should not; the wire-level tests check the
// answers.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/event_loop.hpp"
#include "support/head_transcript.hpp"
#include "transport/answer_writer.hpp"
#include "transport/connection.hpp"

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
  co_await request.writer->write(seen % 2 ? 200 : 204, {}, "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::size_t> everyByte(size > 0 ? size - 1 : 0);
  std::iota(everyByte.begin(), everyByte.end(), std::size_t{1});
  const std::string whole = testing::headTranscript(input, {});
  HeadMemo memo;
  if (whole != testing::headTranscript(input, everyByte) ||
      whole != testing::headTranscript(input, {}, &memo)) {
    std::abort();
  }

  static EventLoop loop;
  // Answers over a Unix socket pair: a short read does not always empty it.
  static Connections connections(4096, false);
  connections.callback = answer;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  FileDescriptor peer(fds[1]);
  if (::send(peer.get(), input.data(), input.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(size))
    return 0;
  ::shutdown(peer.get(), SHUT_WR);
  loop.blockOn(serveConnection(FileDescriptor(fds[0]), PeerAddress("fuzz"), connections));
  // Drain the answers so the next input starts clean.
  char sink[65536];
  while (::recv(peer.get(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  return 0;
}
