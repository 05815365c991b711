#include <optional>
#include <utility>

#include "api/context.hpp"
#include "api/forwarder_config/changes.hpp"
#include "api/forwarder_config/forwarder_config.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/service_control.hpp"

namespace relaydash {

Task<JsonNodePtr> forwarderConfig_get(Call& call) {
  co_return co_await getForwarderConfig(call.context.forwarderConfigPath);
}

Task<JsonNodePtr> forwarderConfig_patch(Call& call) {
  const Context& ctx = call.context;
  JsonNodePtr patch = call.body->at("input");
  const PatchTurn turn = co_await keepVersionForPatch(call.session);
  call.audit.begin(turn.version);
  co_await updateForwarderConfig(ctx.forwarderConfigPath, std::move(patch));
  // An empty name means the forwarder is not run as a unit: nothing to restart.
  if (!ctx.forwarderUnitServiceName.empty()) {
    try {
      co_await restart(ctx.forwarderUnitServiceName);
    } catch (const CommandTimedOut& e) {
      throw e.noting("the configuration file was written");
    }
  }
  co_return newJObject();
}

}  // namespace relaydash
