// gateway/status: the forwarder's and SSH's units, the board, the forwarder's configuration at a
// glance, the link to the network server, one verdict drawn from them, and relaydash itself, in
// one answer.
#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "api/account/initial_password.hpp"
#include "api/context.hpp"
#include "api/forwarder_config/changes.hpp"
#include "api/forwarder_config/config_json.hpp"
#include "api/gateway/gateway.hpp"
#include "api/gateway/gateway_json.hpp"
#include "api/gateway/units.hpp"
#include "gateway/config_history.hpp"
#include "gateway/text_file.hpp"
#include "gateway/time_text.hpp"
#include "model/account_model.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"
#include "version.hpp"

namespace relaydash {
namespace {

// The forwarder's unit (nullopt when it is not run by systemd: systemctl is asked about SSH
// alone then) and SSH's.
struct Units {
  std::optional<UnitStatus> forwarder;
  UnitStatus ssh;
};

Task<Units> readUnits(const Context& ctx) {
  const bool forwarderUnit = !ctx.forwarderUnitServiceName.empty();
  std::vector<std::string> names;
  if (forwarderUnit) names.push_back(ctx.forwarderUnitServiceName);
  names.emplace_back(kSshUnit);
  std::vector<UnitStatus> units = co_await readUnitStatus(names);
  Units read;
  if (forwarderUnit) read.forwarder = std::move(units.front());
  read.ssh = std::move(units.back());
  co_return read;
}

// {"forwarder": unit or null, "ssh": unit}
JsonNodePtr unitsJson(const Units& units) {
  JsonNodePtr o = newJObject();
  o->set("forwarder", units.forwarder ? unitStatusJson(*units.forwarder) : newJNull());
  o->set("ssh", unitStatusJson(units.ssh));
  return o;
}

// The hour's reports; nullopt when the journal cannot be read, which says nothing about the link
// (the logs page shows what journalctl says).
Task<std::optional<std::vector<LinkReport>>> readReports(const Context& ctx) {
  if (ctx.forwarderUnitServiceName.empty()) co_return std::vector<LinkReport>{};
  try {
    co_return co_await readLinkReports(ctx.forwarderUnitServiceName);
  } catch (const CommandError&) {
    co_return std::nullopt;
  }
}

// The newest change that restoring a version would undo: the newest version that holds the file
// from before a change (not a file a change tried and rolled back), unless the file on the
// gateway is that version again (the change was rolled back). A history that cannot be read
// blames nothing; nor does a file that cannot be read, which the answer's forwarderConfig shows.
std::optional<LastChange> lastChange(Context& ctx) {
  std::optional<StoredVersion> stored;
  try {
    const ConfigHistory& history = configChanges(ctx).history();
    for (const ConfigVersion& v : history.list()) {
      if (v.facts.kind == "rejected") continue;
      stored = history.read(v.number);
      break;
    }
  } catch (const OSError& e) {
    printLine(std::string("the status could not read the configuration's history: ") + e.what());
  }
  if (!stored) return std::nullopt;
  const std::optional<IsoUtcTime> time = parseIsoUtc(stored->version.time);
  if (!time) return std::nullopt;
  try {
    if (readTextFile(ctx.forwarderConfigPath) == stored->bytes) return std::nullopt;
  } catch (const OSError&) {
    return std::nullopt;
  }
  const ChangeAuthor& author = stored->version.author;
  return LastChange{stored->version.number, time->start, author.procedure, author.user};
}

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Through the account cache: a status page left open does not keep the database open.
bool stillFactoryPassword(Context& ctx) {
  try {
    return hasGivenPassword(ctx, ctx.accounts.get(ctx.database, kAdminName));
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

Task<JsonNodePtr> gateway_status(Call& call) {
  Context& ctx = call.context;
  const Slots::Permit turn = co_await ctx.gatewayReads.take();
  const Units units = co_await readUnits(ctx);
  const std::optional<bool> clock = co_await readClockSynchronized();
  const ForwarderSummary summary = summarizeForwarderConfig(ctx.forwarderConfigPath);
  const std::optional<std::vector<LinkReport>> reports = co_await readReports(ctx);

  GatewayFacts facts;
  facts.now = nowMicros();
  facts.forwarder = units.forwarder;
  facts.journalRead = reports.has_value();
  if (reports) facts.reports = *reports;
  // Beyond a day it is no interval an operator waits for.
  facts.statIntervalSeconds = static_cast<int>(
      std::clamp<std::int64_t>(summary.statInterval.value_or(kDefaultStatInterval), 1, 86'400));
  facts.clockSynchronized = clock;
  if (mayBlameChange(facts)) facts.lastChange = lastChange(ctx);

  JsonNodePtr output = newJObject();
  output->set("units", unitsJson(units));
  output->set("gateway", systemFactsJson(readSystemFacts(ctx.forwarderConfigPath), clock));
  output->set("forwarderConfig", forwarderSummaryJson(summary));
  output->set(
      "linkHealth",
      reports ? linkHealthJson(*reports, reportAge(*reports, facts.statIntervalSeconds, facts.now))
              : newJNull());
  output->set("relaydash", relaydashJson(ctx));
  output->set("verdict", verdictJson(judgeGateway(facts)));
  output->set("interruptedChange", interruptedChangeJson(configChanges(ctx).interrupted()));
  co_return output;
}

}  // namespace relaydash
