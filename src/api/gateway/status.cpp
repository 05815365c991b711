// gateway/status: the forwarder's and SSH's units, the board, the forwarder's configuration at a
// glance, the link to the network server, one verdict drawn from them, and relaydash itself, in
// one answer.
#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/account/initial_password.hpp"
#include "api/context.hpp"
#include "api/errors.hpp"
#include "api/forwarder_config/changes.hpp"
#include "api/forwarder_config/config_json.hpp"
#include "api/gateway/gateway.hpp"
#include "api/gateway/gateway_json.hpp"
#include "api/gateway/status_reads.hpp"
#include "gateway/config_history.hpp"
#include "gateway/text_file.hpp"
#include "gateway/time_text.hpp"
#include "model/account_model.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"
#include "version.hpp"

namespace relaydash {
namespace {

// {"forwarder": unit or null, "ssh": unit}
JsonNodePtr unitsJson(const Units& units) {
  JsonNodePtr o = newJObject();
  o->set("forwarder", units.forwarder ? unitStatusJson(*units.forwarder) : newJNull());
  o->set("ssh", unitStatusJson(units.ssh));
  return o;
}

// {"code","message"}: how the error would answer if it were the whole call's.
JsonNodePtr partErrorJson(const std::exception_ptr& error) {
  try {
    raiseDomainAnswer(error);
  } catch (const HttpException& e) {
    JsonNodePtr o = newJObject();
    o->set("code", newJInt(static_cast<std::int64_t>(e.errorCode())));
    o->set("message", newJString(e.errorMessage()));
    return o;
  } catch (const std::exception& e) {
    JsonNodePtr o = newJObject();
    o->set("code", newJInt(static_cast<std::int64_t>(ErrorCode::InternalError)));
    o->set("message", newJString(e.what()));
    return o;
  }
  return newJNull();
}

// One part of the answer: its value, or the error its source raised, which the answer carries
// in "errors" while the other parts are answered all the same.
template <typename T>
struct Part {
  std::shared_ptr<const T> value;
  std::exception_ptr error;
};

template <typename T>
Task<Part<T>> part(Task<std::shared_ptr<const T>> read) {
  Part<T> p;
  try {
    p.value = co_await std::move(read);
  } catch (...) {
    p.error = std::current_exception();
  }
  co_return p;
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
  StatusReads& reads = *ctx.statusReads;
  const Part<Units> units = co_await part(reads.units());
  const Part<std::optional<bool>> clock = co_await part(reads.clockSynchronized());
  const Part<SystemFacts> system = co_await part(reads.system());
  const Part<ForwarderSummary> summary = co_await part(reads.forwarderConfig());
  const Part<std::vector<LinkReport>> reports = co_await part(reads.reports());

  GatewayFacts facts;
  facts.now = nowMicros();
  facts.unitRead = units.value != nullptr;
  if (units.value) facts.forwarder = units.value->forwarder;
  facts.journalRead = reports.value != nullptr;
  if (reports.value) facts.reports = *reports.value;
  // Beyond a day it is no interval an operator waits for.
  const std::int64_t interval = summary.value
                                    ? summary.value->statInterval.value_or(kDefaultStatInterval)
                                    : kDefaultStatInterval;
  facts.statIntervalSeconds = static_cast<int>(std::clamp<std::int64_t>(interval, 1, 86'400));
  if (clock.value) facts.clockSynchronized = *clock.value;
  if (mayBlameChange(facts)) facts.lastChange = lastChange(ctx);

  JsonNodePtr output = newJObject();
  output->set("units", units.value ? unitsJson(*units.value) : newJNull());
  output->set("gateway",
              system.value ? systemFactsJson(*system.value, facts.clockSynchronized) : newJNull());
  output->set("forwarderConfig", summary.value ? forwarderSummaryJson(*summary.value) : newJNull());
  output->set("linkHealth",
              reports.value
                  ? linkHealthJson(*reports.value,
                                   reportAge(*reports.value, facts.statIntervalSeconds, facts.now))
                  : newJNull());
  output->set("relaydash", relaydashJson(ctx));
  output->set("verdict", verdictJson(judgeGateway(facts)));
  output->set("interruptedChange", interruptedChangeJson(configChanges(ctx).interrupted()));
  JsonNodePtr errors = newJObject();
  const auto failed = [&errors](const char* name, const std::exception_ptr& error) {
    if (error) errors->set(name, partErrorJson(error));
  };
  failed("units", units.error);
  failed("gateway", system.error);
  failed("clock", clock.error);
  failed("forwarderConfig", summary.error);
  failed("linkHealth", reports.error);
  output->set("errors", std::move(errors));
  co_return output;
}

}  // namespace relaydash
