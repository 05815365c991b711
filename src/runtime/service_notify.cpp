#include "runtime/service_notify.hpp"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

struct SocketAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};

// The address $NOTIFY_SOCKET names: an absolute path, or "@name" for the abstract name "\0name"
// (its length says where it ends; no terminating zero).
SocketAddress notifyAddress(std::string_view name) {
  SocketAddress result;
  result.address.sun_family = AF_UNIX;
  const bool abstract = !name.empty() && name.front() == '@';
  if (!abstract && (name.empty() || name.front() != '/')) {
    throw OSError(EINVAL,
                  "NOTIFY_SOCKET is neither a path nor an abstract name: " + std::string(name));
  }
  // A path needs room for its terminating zero.
  if (name.size() + (abstract ? 0 : 1) > sizeof result.address.sun_path) {
    throw OSError(ENAMETOOLONG, "NOTIFY_SOCKET is too long: " + std::string(name));
  }
  std::memcpy(result.address.sun_path, name.data(), name.size());
  if (abstract) result.address.sun_path[0] = '\0';
  result.length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 0 : 1));
  return result;
}

}  // namespace

bool notifyServiceManager(std::string_view state) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || *name == '\0') return false;
  const SocketAddress to = notifyAddress(name);
  const FileDescriptor fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) raiseOSError();
  const ssize_t sent = ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to.address), to.length);
  if (sent < 0) {
    const int error = errno;
    throw OSError(error, std::string(std::strerror(error)) + " (NOTIFY_SOCKET=" + name + ")");
  }
  return true;
}

void notifyReady() noexcept {
  try {
    notifyServiceManager("READY=1");
  } catch (const std::exception& e) {
    // Only the service manager's view suffers: it may count the start as failed.
    // stdio, not iostreams: <iostream> alone would add half a megabyte to the static ARM program.
    std::fprintf(stderr, "Could not tell the service manager that relaydash is ready: %s\n",
                 e.what());
  }
}

}  // namespace relaydash
