#pragma once

#include <functional>
#include <string_view>

#include "server/http_server.hpp"

namespace relaydash {

// Whether a key may read /metrics.
using MetricsKeyCheck = std::function<bool(Context&, std::string_view key)>;

// GET /metrics: the server's and the forwarder's figures in the Prometheus text format, for a
// request with "Authorization: Bearer KEY" whose key `accepts` takes (by default the context's
// metrics keys). A request without an Authorization header, by another method than GET or HEAD,
// or for a path below, is answered as an unknown path (the redirect), so the route shows only to
// those who hold a key; a key that is refused gets 401 with code 23020. The server must outlive
// the handler.
HttpHandler metricsRoute(const HttpServer& server, MetricsKeyCheck accepts = {});

}  // namespace relaydash
