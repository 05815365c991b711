#pragma once

#include <functional>
#include <memory>
#include <string>

#include "runtime/socket.hpp"
#include "runtime/task.hpp"
#include "transport/connection_registry.hpp"
#include "transport/request.hpp"

namespace relaydash {

// Called for every well-formed request; the transport waits for its future before it reads
// the next request on that connection. The future must not fail.
using RequestCallback = std::function<Task<void>(Request&)>;

// The HTTP/1.1 listener: accepts connections and reads requests one after another on each,
// answering protocol errors itself and handing every well-formed request to the callback.
class AsyncHttpServer {
 public:
  AsyncHttpServer(bool reuseAddr, bool reusePort, long maxBody);

  // Listens on the IPv4 address and port (an empty address means every interface), then
  // accepts forever. Fails with OSError when the socket cannot be set up or accepting fails.
  // With assumedDescriptorsPerRequest >= 0, the descriptors the loop watches plus that many
  // must stay below the open-files ceiling: there, a connection waiting to be accepted makes
  // room by closing one that waits for its next request or has not completed its head, and
  // accepting pauses while there is none (and while the process is out of descriptors).
  Task<void> serve(int port, RequestCallback callback, std::string address,
                   int assumedDescriptorsPerRequest);

  // The port actually bound (useful after listening on port 0); 0 before listening.
  int localPort() const noexcept { return boundPort_; }

  bool reuseAddr() const noexcept { return reuseAddr_; }
  bool reusePort() const noexcept { return reusePort_; }
  long maxBody() const noexcept { return maxBody_; }
  long maxFDs() const noexcept { return maxFDs_; }

 private:
  Task<void> processClient(FileDescriptor fd, std::string peer);
  // At the descriptor ceiling: closes a connection that can be spared when another waits to be
  // accepted, or waits while none can be.
  Task<void> makeRoom(Socket& listener);

  int boundPort_ = 0;
  bool reuseAddr_;
  bool reusePort_;
  long maxBody_;
  long maxFDs_ = 0;
  RequestCallback callback_;
  ConnectionRegistry connections_;
};

std::unique_ptr<AsyncHttpServer> newAsyncHttpServer(bool reuseAddr, bool reusePort, long maxBody);

}  // namespace relaydash
