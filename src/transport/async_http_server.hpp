#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/socket.hpp"
#include "runtime/task.hpp"
#include "transport/connection.hpp"
#include "transport/request.hpp"

namespace relaydash {

// The HTTP/1.1 listener: accepts connections and reads requests one after another on each,
// answering protocol errors itself and handing every well-formed request to the callback.
class AsyncHttpServer {
 public:
  AsyncHttpServer(bool reuseAddr, bool reusePort, long maxBody);
  AsyncHttpServer(const AsyncHttpServer&) = delete;
  AsyncHttpServer& operator=(const AsyncHttpServer&) = delete;

  // Listens on the IPv4 address and port (an empty address means every interface), then
  // accepts forever. Fails with OSError when the socket cannot be set up or accepting fails.
  // With reservedDescriptors >= 0, that many descriptors below the open-files ceiling are kept
  // for the work the requests do: there, a connection waiting to be accepted makes room by
  // closing the connection best spared (see ConnectionRegistry::reclaimOne), and accepting
  // pauses while there is none (and while the process is out of descriptors).
  Task<void> serve(int port, RequestCallback callback, std::string address,
                   int reservedDescriptors);

  // When a body or an answer counts as stalled (see ConnectionRegistry::reclaimOne), and when
  // each is closed whatever the pressure: limits::kStalledAfter, kBodyStallLimit and
  // kSendStallLimit unless set here (or, for the limits, in the environment: see stallLimit in
  // the source).
  void setStallLimits(std::chrono::milliseconds stalledAfter,
                      std::chrono::milliseconds bodyStallLimit,
                      std::chrono::milliseconds sendStallLimit) noexcept {
    connections_.registry.setStalledAfter(stalledAfter);
    connections_.bodyStallLimit = bodyStallLimit;
    connections_.sendStallLimit = sendStallLimit;
  }

  // Serves TLS beside plain HTTP on the same port: a connection whose first byte starts a TLS
  // handshake is given the layer the factory opens. Before serve().
  void setSecureLayers(SecureLayerFactory factory) { connections_.openSecure = std::move(factory); }

  // Called once the port listens, before the first connection is accepted.
  void setOnListening(std::function<void()> listening) { onListening_ = std::move(listening); }

  // The port actually bound (useful after listening on port 0); 0 before listening.
  int localPort() const noexcept { return boundPort_; }

  // Connections open now, and those closed since start to make room at the descriptor ceiling.
  std::size_t openConnections() const noexcept { return connections_.open; }
  std::uint64_t reclaimedConnections() const noexcept { return connections_.registry.reclaimed(); }

 private:
  // At the descriptor ceiling: closes a connection that can be spared when another waits to be
  // accepted, or waits while none can be.
  Task<void> makeRoom(Socket& listener);

  std::function<void()> onListening_;
  int boundPort_ = 0;
  bool reuseAddr_;
  bool reusePort_;
  Connections connections_;
};

std::unique_ptr<AsyncHttpServer> newAsyncHttpServer(bool reuseAddr, bool reusePort, long maxBody);

}  // namespace relaydash
