#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "runtime/file_descriptor.hpp"

namespace relaydash::testing {

// Sets NOTIFY_SOCKET (or unsets it, for nullopt) while it lives, then puts back what was there.
class NotifySocketVariable {
 public:
  explicit NotifySocketVariable(const std::optional<std::string>& value) {
    if (const char* old = std::getenv("NOTIFY_SOCKET")) old_ = old;
    set(value);
  }
  ~NotifySocketVariable() { set(old_); }
  NotifySocketVariable(const NotifySocketVariable&) = delete;
  NotifySocketVariable& operator=(const NotifySocketVariable&) = delete;

 private:
  static void set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv("NOTIFY_SOCKET", value->c_str(), 1);
    } else {
      ::unsetenv("NOTIFY_SOCKET");
    }
  }

  std::optional<std::string> old_;
};

// A datagram socket standing in for the service manager's. `address` is a path, or "@name" for
// the abstract name "\0name". Reading never waits.
class NotifyReceiver {
 public:
  explicit NotifyReceiver(const std::string& address)
      : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    EXPECT_TRUE(fd_.valid());
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, address.data(), address.size());
    const bool abstract = address.front() == '@';
    if (abstract) to.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() +
                                               (abstract ? 0 : 1));
    EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&to), length), 0)
        << address << ": " << std::strerror(errno);
  }

  // The next datagram already received, or "(none)".
  std::string next() const {
    char buffer[512];
    const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (n < 0) return "(none)";
    return std::string(buffer, static_cast<std::size_t>(n));
  }

 private:
  FileDescriptor fd_;
};

}  // namespace relaydash::testing
