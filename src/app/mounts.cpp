#include "app/mounts.hpp"

#include "api/account/account.hpp"
#include "api/audit/list.hpp"
#include "api/forwarder_config/forwarder_config.hpp"
#include "api/gateway/gateway.hpp"
#include "api/metrics_keys/metrics_keys.hpp"
#include "api/server/server.hpp"
#include "api/ssh/ssh.hpp"
#include "app/error_hook.hpp"
#include "app/health.hpp"
#include "app/metrics_route.hpp"
#include "app/web_app.hpp"

namespace relaydash {

std::span<const Procedure> allProcedures() {
  static const std::vector<Procedure> procedures = [] {
    std::vector<Procedure> all;
    for (const std::span<const Procedure> domain :
         {accountProcedures(), sshProcedures(), forwarderConfigProcedures(), gatewayProcedures(),
          auditProcedures(), serverProcedures(), metricsKeysProcedures()}) {
      all.insert(all.end(), domain.begin(), domain.end());
    }
    return all;
  }();
  return procedures;
}

void setupJsonApiRoute(HttpServer& server) {
  mountProcedures(server, allProcedures());
}

void mountApplication(HttpServer& server, std::span<const EmbeddedFile> uiFiles) {
  setupJsonApiRoute(server);
  mount(server, "ui", staticFileHandler(uiFiles));
  mount(server, "health", healthCheck);
  mount(server, "metrics", metricsRoute(server));
  mount(server, "", redirectToUi);
  catchErrors(server, mainOnError);
}

}  // namespace relaydash
