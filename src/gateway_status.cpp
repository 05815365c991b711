// gateway/status: the forwarder's and SSH's units, the board, the forwarder's configuration at a
// glance, the link to the network server, and relaydash itself, in one answer.
#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "ctx.hpp"
#include "gateway_json.hpp"
#include "model/account_model.hpp"
#include "relaydash.hpp"
#include "route.hpp"

namespace relaydash {
namespace {

// {"forwarder": unit or null, "ssh": unit}. A forwarder without a unit name is not run by
// systemd: null, and systemctl is asked about SSH alone.
Task<JsonNodePtr> unitsJson(const Context& ctx) {
  const bool forwarderUnit = !ctx.forwarderUnitServiceName.empty();
  std::vector<std::string> names;
  if (forwarderUnit) names.push_back(ctx.forwarderUnitServiceName);
  names.emplace_back(kSshUnit);
  std::vector<UnitStatus> units;
  try {
    units = co_await readUnitStatus(names);
  } catch (const CommandError& e) {
    raiseCommandFailure(e);
  }
  JsonNodePtr o = newJObject();
  o->set("forwarder", forwarderUnit ? unitStatusJson(units.front()) : newJNull());
  o->set("ssh", unitStatusJson(units.back()));
  co_return o;
}

// A journal that cannot be read says nothing about the link: null, like a forwarder that has not
// reported yet. The logs page shows what journalctl says.
Task<JsonNodePtr> linkJson(const Context& ctx) {
  if (ctx.forwarderUnitServiceName.empty()) co_return newJNull();
  std::vector<LinkReport> reports;
  try {
    reports = co_await readLinkReports(ctx.forwarderUnitServiceName);
  } catch (const CommandError&) {
    co_return newJNull();
  }
  co_return linkHealthJson(reports);
}

// Through the account cache: a status page left open does not keep the database open.
bool stillFactoryPassword(Context& ctx) {
  try {
    return passwordMatches(ctx.accounts.get(ctx.database, kAdminName), kAdminInitialPassword);
  } catch (const UserNotFoundError&) {
    return false;
  }
}

JsonNodePtr relaydashJson(Context& ctx) {
  JsonNodePtr o = newJObject();
  o->set("version", newJString(std::string(kVersion)));
  const auto uptime = std::chrono::steady_clock::now() - ctx.startedAt;
  o->set("uptimeSeconds",
         newJInt(std::chrono::duration_cast<std::chrono::seconds>(uptime).count()));
  o->set("defaultPassword", newJBool(stillFactoryPassword(ctx)));
  return o;
}

}  // namespace

Task<JsonNodePtr> gateway_status(Session& session, JsonNodePtr) {
  Context& ctx = session.context;
  JsonNodePtr output = newJObject();
  output->set("units", co_await unitsJson(ctx));
  const std::optional<bool> clock = co_await readClockSynchronized();
  output->set("gateway", systemFactsJson(readSystemFacts(ctx.forwarderConfigPath), clock));
  output->set("forwarderConfig",
              forwarderSummaryJson(summarizeForwarderConfig(ctx.forwarderConfigPath)));
  output->set("linkHealth", co_await linkJson(ctx));
  output->set("relaydash", relaydashJson(ctx));
  co_return answer(std::move(output));
}

}  // namespace relaydash
