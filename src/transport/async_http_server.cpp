#include "transport/async_http_server.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

#include "runtime/environment.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/os_error.hpp"
#include "runtime/service_notify.hpp"
#include "transport/connection.hpp"
#include "transport/limits.hpp"

namespace relaydash {
namespace {

long descriptorCeiling() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return limits::kDefaultMaxFDs;
  if (limit.rlim_cur == RLIM_INFINITY) return limits::kDefaultMaxFDs;
  return static_cast<long>(limit.rlim_cur) - 1;
}

// Descriptors open now that the loop does not watch (standard streams, the loop's own, the
// database): counted once, as they change little; the reserve covers what comes and goes.
long unwatchedDescriptors(std::size_t watched) {
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return limits::kDescriptorsForFiles;
  long open = -1;  // the folder's own descriptor is listed too
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] != '.') ++open;
  }
  ::closedir(folder);
  return std::max(0L, open - static_cast<long>(watched));
}

sockaddr_in resolve(const std::string& address, int port) {
  if (port < 0 || port > 65535) {
    throw std::runtime_error("Invalid port: " + std::to_string(port) + " (expected 0 to 65535)");
  }
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(static_cast<std::uint16_t>(port));
  if (address.empty()) {
    result.sin_addr.s_addr = htonl(INADDR_ANY);
    return result;
  }
  if (::inet_pton(AF_INET, address.c_str(), &result.sin_addr) == 1) return result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(address.c_str(), nullptr, &hints, &found); rc != 0) {
    throw std::runtime_error("Cannot resolve address " + address + ": " + ::gai_strerror(rc));
  }
  result.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return result;
}

FileDescriptor listenOn(const sockaddr_in& address, bool reuseAddr, bool reusePort) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) raiseOSError();
  const int on = 1;
  if (reuseAddr && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
    raiseOSError();
  if (reusePort && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
    raiseOSError();
  // Accepted sockets inherit this: small answers go out at once instead of waiting for the
  // peer's delayed acknowledgement, which would stall pipelined requests by tens of
  // milliseconds.
  if (::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) raiseOSError();
  // Inherited too: a peer that does not read its answers holds only this much of them.
  const int sendBuffer = limits::kSendBuffer;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer) != 0)
    raiseOSError();
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    raiseOSError();
  if (::listen(fd.get(), limits::kListenBacklog) != 0) raiseOSError();
  return fd;
}

int boundPort(int fd) {
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) raiseOSError();
  return ntohs(bound.sin_port);
}

// Dotted-quad text of the peer, written directly: inet_ntop formats through sprintf, a cost
// that shows on every new connection.
PeerAddress peerAddress(const sockaddr_in& peer) {
  const std::uint32_t address = ntohl(peer.sin_addr.s_addr);
  char text[INET_ADDRSTRLEN];
  char* end = text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    end = std::to_chars(end, std::end(text), (address >> shift) & 0xff).ptr;
    // A failed to_chars leaves `end` at the end of the buffer; every write stays inside it.
    if (shift > 0 && end != std::end(text)) *end++ = '.';
  }
  return PeerAddress(std::string_view(text, static_cast<std::size_t>(end - text)));
}

// How long a body or an answer may stall: the limit given, or the milliseconds that the
// variable names (RELAYDASH_BODY_STALL_MS, RELAYDASH_SEND_STALL_MS: for tests, which cannot
// wait a minute).
std::chrono::milliseconds stallLimit(const char* variable, std::chrono::milliseconds limit) {
  return millisecondsFromEnvironment(variable).value_or(limit);
}

// True when a connection is waiting in the listen backlog (accept would not wait).
bool connectionWaiting(const Socket& listener) {
  pollfd ready{listener.fd(), POLLIN, 0};
  return ::poll(&ready, 1, 0) > 0;
}

}  // namespace

AsyncHttpServer::AsyncHttpServer(bool reuseAddr, bool reusePort, long maxBody)
    : reuseAddr_(reuseAddr), reusePort_(reusePort), connections_(maxBody, true) {
  connections_.bodyStallLimit = stallLimit("RELAYDASH_BODY_STALL_MS", limits::kBodyStallLimit);
  connections_.sendStallLimit = stallLimit("RELAYDASH_SEND_STALL_MS", limits::kSendStallLimit);
}

std::unique_ptr<AsyncHttpServer> newAsyncHttpServer(bool reuseAddr, bool reusePort, long maxBody) {
  return std::make_unique<AsyncHttpServer>(reuseAddr, reusePort, maxBody);
}

Task<void> AsyncHttpServer::serve(int port, RequestCallback callback, std::string address,
                                  int reservedDescriptors) {
  connections_.callback = std::move(callback);
  const long maxFDs = descriptorCeiling();
  // The listening socket lives in this frame: it goes away with the task, before the loop.
  Socket listener(listenOn(resolve(address, port), reuseAddr_, reusePort_));
  boundPort_ = boundPort(listener.fd());
  EventLoop& loop = EventLoop::current();
  // Connections may take descriptors up to here; the rest is kept for the work.
  const long usable = maxFDs - reservedDescriptors;
  const long unwatched = reservedDescriptors >= 0 ? unwatchedDescriptors(loop.watchedCount()) : 0;
  loop.spawn(closeStalledConnections(connections_));
  // Listening now: a service manager that waits for this (systemd, Type=notify) may go on.
  notifyReady();
  if (onListening_) onListening_();
  listener.setLevelTriggered();

  for (;;) {
    if (reservedDescriptors >= 0 &&
        static_cast<long>(loop.watchedCount()) + unwatched + 1 >= usable) {
      co_await makeRoom(listener);
      continue;
    }
    Accepted accepted;
    bool outOfDescriptors = false;
    try {
      accepted = co_await listener.accept();
    } catch (const OSError& e) {
      if (e.errorCode() == EINTR || isDisconnection(e.errorCode())) continue;
      // Descriptors the loop does not watch (the database, a file being rewritten) can still
      // exhaust the table; that is a reason to make room or wait, not to stop serving.
      if (e.errorCode() != EMFILE && e.errorCode() != ENFILE) throw;
      outOfDescriptors = true;
    }
    if (outOfDescriptors) {
      co_await makeRoom(listener);
      continue;
    }
    // A descriptor is the lowest number free: this one says that at least that many are open.
    // Past the usable ones (the work opened more than was counted), the connection that is
    // best spared makes room at once, or else the new one is closed unanswered.
    if (reservedDescriptors >= 0 && accepted.fd.get() >= usable &&
        !connections_.registry.reclaimOne(TrackedConnection::Clock::now())) {
      continue;
    }
    loop.spawn(serveConnection(std::move(accepted.fd), peerAddress(accepted.peer), connections_));
  }
}

Task<void> AsyncHttpServer::makeRoom(Socket& listener) {
  ConnectionRegistry& registry = connections_.registry;
  if (!registry.canReclaim(TrackedConnection::Clock::now())) {
    co_await SleepFor(limits::kThrottlePoll);
    co_return;
  }
  // Nobody is turned away yet: the connections there stay open as long as their peers want.
  if (!connectionWaiting(listener)) {
    listener.setDrained();
    co_await listener.readable();
    co_return;
  }
  registry.reclaimOne(TrackedConnection::Clock::now());
  // The connections accepted so far read what has arrived for them before the next one comes
  // in, so a fresh client's request is read before the newer arrivals could push it out.
  co_await Yield();
}

}  // namespace relaydash
