#pragma once

#include <string>

#include "runtime/socket.hpp"
#include "runtime/task.hpp"
#include "transport/async_http_server.hpp"

namespace relaydash {

class ConnectionRegistry;

// Serves one accepted connection until the peer closes it or a request ends it: reads each
// request, answers protocol errors, calls the callback, and applies the keep-alive rules. The
// connection is tracked in the registry while it is served, and ends when the registry
// reclaims or refuses it. Errors stay inside: a failing connection is closed and nothing else
// is affected.
Task<void> serveConnection(Socket& client, std::string peer, const RequestCallback& callback,
                           long maxBody, ConnectionRegistry& registry);

}  // namespace relaydash
