#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "runtime/file_descriptor.hpp"
#include "runtime/stream_layer.hpp"
#include "runtime/task.hpp"
#include "transport/connection_registry.hpp"
#include "transport/limits.hpp"
#include "transport/request.hpp"
#include "transport/workspace.hpp"

namespace relaydash {

// Called for every well-formed request; the transport waits for its future before it reads
// the next request on that connection. The future must not fail.
using RequestCallback = std::function<Task<void>(Request&)>;

// Opens the TLS side of a connection whose first bytes (given) start a TLS handshake: null to
// serve it as plain HTTP.
using SecureLayerFactory =
    std::function<std::unique_ptr<StreamLayer>(int fd, std::string_view received)>;

// What the connections of one server share. Must outlive them.
struct Connections {
  Connections(long bodyLimit, bool streamSockets) noexcept
      : maxBody(bodyLimit), shortReadsDrain(streamSockets) {}
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;

  RequestCallback callback;
  // Empty: plain HTTP only.
  SecureLayerFactory openSecure;
  long maxBody;
  // A body that receives nothing for this long is closed.
  std::chrono::milliseconds bodyStallLimit = limits::kBodyStallLimit;
  // An answer whose peer takes nothing for this long (at most twice this: see
  // ConnectionRegistry::endStalledSenders) is closed.
  std::chrono::milliseconds sendStallLimit = limits::kSendStallLimit;
  // TCP sockets: a read that returns less than asked for has emptied the socket.
  bool shortReadsDrain;
  ConnectionRegistry registry;
  WorkspacePool workspaces;
  // Connections open now, and the most open at once since memory was last given back.
  std::size_t open = 0;
  std::size_t peak = 0;
  bool trimPending = false;
};

// A peer's address as text ("192.0.2.7"), kept in the connection without allocating. Longer text
// is cut to what fits.
class PeerAddress {
 public:
  explicit PeerAddress(std::string_view text) noexcept
      : size_(static_cast<unsigned char>(std::min(text.size(), sizeof text_))) {
    std::copy_n(text.data(), size_, text_);
  }
  std::string_view text() const noexcept { return {text_, size_}; }

 private:
  char text_[15];  // the longest dotted quad
  unsigned char size_;
};

// Serves one accepted connection until the peer closes it or a request ends it, in one loop:
// read into the buffer, parse the head, read the body, call back, queue the answers, decide about
// keep-alive. The transport answers protocol errors itself. The connection is tracked in the
// registry while it is served, and ends when the registry reclaims or refuses it. Errors stay
// inside: a failing connection is closed (its error printed on standard error) and nothing else
// is affected.
Task<void> serveConnection(FileDescriptor fd, PeerAddress peer, Connections& connections);

// Runs as long as the loop: closes the connections whose body has stalled for
// connections.bodyStallLimit, and those whose answer has stalled for sendStallLimit, waking
// only when the oldest one would be due.
Task<void> closeStalledConnections(Connections& connections);

}  // namespace relaydash
