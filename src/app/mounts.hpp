#pragma once

#include <span>
#include <vector>

#include "api/procedure.hpp"
#include "server/http_server.hpp"
#include "ui/embedded_files.hpp"

namespace relaydash {

// What the server answers, in one list that start-up and the tests both use.

// Every procedure of the API, domain by domain.
std::span<const Procedure> allProcedures();

// Registers the JSON API: every procedure under "rpc" and "rpc/v1".
void setupJsonApiRoute(HttpServer& server);

// The whole application: the JSON API, the web application made of uiFiles (which must outlive
// the server) on "ui", the health check on "health", the figures for Prometheus on "metrics"
// (metrics_route.hpp), the redirect to "/ui" at the root, and the error hook.
void mountApplication(HttpServer& server, std::span<const EmbeddedFile> uiFiles);

}  // namespace relaydash
