#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace relaydash::testing {

// Takes one whole answer (a Content-Length body, or a bare status) from the front of what has
// arrived; nothing while it is incomplete.
inline std::optional<std::string> takeAnswer(std::string& pending) {
  const auto headEnd = pending.find("\r\n\r\n");
  if (headEnd == std::string::npos) return std::nullopt;
  std::size_t length = 0;
  const auto cl = pending.find("Content-Length: ");
  if (cl != std::string::npos && cl < headEnd) length = std::stoul(pending.substr(cl + 16));
  const std::size_t total = headEnd + 4 + length;
  if (pending.size() < total) return std::nullopt;
  std::string answer = pending.substr(0, total);
  pending.erase(0, total);
  return answer;
}

// A blocking TCP client on 127.0.0.1 for wire-level tests: send bytes, read what comes back.
class LoopbackClient {
 public:
  // A connectLimit above zero bounds how long connecting may take (a server that does not
  // accept leaves a connection waiting for as long as the kernel retries).
  // A source address (one of 127.0.0.0/8) makes the connection come from it.
  explicit LoopbackClient(int port, std::chrono::milliseconds connectLimit = {},
                          const char* source = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (source != nullptr) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      if (::inet_pton(AF_INET, source, &from.sin_addr) != 1 ||
          ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        ::close(fd_);
        throw std::runtime_error("cannot connect from " + std::string(source));
      }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{static_cast<time_t>(connectLimit.count() / 1000),
                  static_cast<suseconds_t>(connectLimit.count() % 1000 * 1000)};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      throw std::runtime_error("cannot connect to the test server");
    }
    limit = {};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;
  ~LoopbackClient() {
    if (fd_ >= 0) ::close(fd_);
  }

  void send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("send failed");
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // Closes the sending side; the server reads end of stream.
  void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

  // Reads until the server closes the connection (or the time runs out).
  std::string readUntilClosed(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::string all;
    while (readSome(all, limit) > 0) {
    }
    return all;
  }

  // Reads whatever arrives until nothing more comes for `quiet`.
  std::string readFor(std::chrono::milliseconds quiet = std::chrono::milliseconds(200)) {
    std::string all;
    while (readSome(all, quiet) > 0) {
    }
    return all;
  }

  // Reads until `all` holds at least one complete answer with a Content-Length body (or a
  // bare status), and returns it; later bytes stay for the next call.
  std::string readAnswer(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    for (;;) {
      if (std::optional<std::string> answer = takeAnswer(pending_)) return std::move(*answer);
      if (readSome(pending_, limit) == 0) {
        std::string rest = std::move(pending_);
        pending_.clear();
        return rest;
      }
    }
  }

  // True when the server has closed the connection (end of stream within the time).
  bool closedByPeer(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::string ignored;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
      char c[4096];
      const ssize_t n = ::recv(fd_, c, sizeof c, 0);
      if (n <= 0) return true;
    }
  }

  int fd() const noexcept { return fd_; }

 private:
  std::size_t readSome(std::string& into, std::chrono::milliseconds limit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return 0;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return 0;
    into.append(chunk, static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
  }

  int fd_ = -1;
  std::string pending_;
};

}  // namespace relaydash::testing
