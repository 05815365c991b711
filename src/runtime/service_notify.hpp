#pragma once

#include <string_view>

namespace relaydash {

// Tells the service manager that started this process how it is doing, in systemd's
// notification protocol: one datagram of NAME=value lines (e.g. "READY=1") sent to the AF_UNIX
// socket named by $NOTIFY_SOCKET, a file system path, or an abstract name when it starts with
// '@'. Returns false, sending nothing, when $NOTIFY_SOCKET is not set (no service manager waits
// for word from this process). Throws OSError when the name is not a socket address or the
// datagram cannot be sent.
bool notifyServiceManager(std::string_view state);

// Says READY=1 when a service manager waits for it (a Type=notify unit is started only then).
// A failure is written to standard error and goes no further: the server serves all the same.
void notifyReady() noexcept;

}  // namespace relaydash
