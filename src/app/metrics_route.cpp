#include "app/metrics_route.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/context.hpp"
#include "app/gateway_metrics.hpp"
#include "app/health.hpp"
#include "ascii/ascii.hpp"
#include "gateway/config_change.hpp"
#include "json/writer.hpp"
#include "metrics/exposition.hpp"
#include "runtime/event_loop.hpp"
#include "server/http_error.hpp"
#include "version.hpp"

namespace relaydash {
namespace {

using std::chrono::duration;
using std::chrono::system_clock;

constexpr std::array kExpositionFields = {
    HeaderField{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}};
constexpr std::array kRefusalFields = {
    HeaderField{"Content-Type", "application/json"},
    HeaderField{"WWW-Authenticate", "Bearer error=\"invalid_token\""}};

// The first scrape after start waits this long at most for the first refresh, so that it has
// the forwarder's values in the usual case (the hour of journal read once, in tens of ms).
constexpr int kFirstWaitSteps = 50;
constexpr std::chrono::milliseconds kFirstWaitStep{20};

constexpr std::array<std::string_view, 6> kUnitStates = {"active",   "activating", "deactivating",
                                                         "inactive", "failed",     "reloading"};
constexpr std::array<std::string_view, 5> kOutcomes = {"applied", "rolled-back", "rollback-failed",
                                                       "refused", "failed"};

std::size_t outcomeOf(ChangeResult result) {
  switch (result) {
    case ChangeResult::Applied:
      return 0;
    case ChangeResult::RolledBack:
      return 1;
    case ChangeResult::RollbackFailed:
      return 2;
    case ChangeResult::Failed:
      return 4;
    default:
      // Refused, nothing written: a rule, the forwarder's reading, a side file, a stale base,
      // another change under way.
      return 3;
  }
}

const ConstantAnswer& refusal() {
  static const std::string body = toCompact(*newJsonError(ErrorCode::InvalidMetricsKey));
  static const ConstantAnswer answer(401, kRefusalFields, body);
  return answer;
}

// The key of "Bearer KEY" (the scheme in any case, as HTTP's are), or empty.
std::string_view bearerKey(std::string_view value) {
  constexpr std::string_view kScheme = "bearer ";
  if (value.size() <= kScheme.size()) return {};
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (ascii::toLower(value[i]) != kScheme[i]) return {};
  }
  std::string_view key = value.substr(kScheme.size());
  while (!key.empty() && (key.front() == ' ' || key.front() == '\t'))
    key.remove_prefix(1);
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
    key.remove_suffix(1);
  return key;
}

double seconds(std::int64_t micros) {
  return static_cast<double>(micros) / 1e6;
}

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             system_clock::now().time_since_epoch())
      .count();
}

struct Route {
  const HttpServer* server;
  MetricsKeyCheck accepts;
  GatewayMetrics gateway;
  std::optional<double> startTime;  // Unix seconds, fixed at the first scrape
  // The answer is written here, reused from scrape to scrape; a scrape that comes while an
  // answer still waits for its slow peer writes into its own.
  std::string buffer;
  bool bufferBusy = false;
};

void counter(ExpositionWriter& w, std::string_view name, std::string_view help,
             std::uint64_t value) {
  w.family(name, help, "counter");
  w.sample(name, static_cast<std::int64_t>(value));
}

void gauge(ExpositionWriter& w, std::string_view name, std::string_view help, double value) {
  w.family(name, help, "gauge");
  w.sample(name, value);
}

void writeServer(ExpositionWriter& w, Route& route, Context& ctx) {
  w.family("relaydash_build_info", "The running relaydash's version.", "gauge");
  w.sample("relaydash_build_info", {{"version", kVersion}}, std::int64_t{1});
  if (!route.startTime) {
    const auto up = std::chrono::steady_clock::now() - ctx.startedAt;
    route.startTime = duration<double>((system_clock::now() - up).time_since_epoch()).count();
  }
  gauge(w, "relaydash_start_time_seconds", "When relaydash started, in Unix time.",
        *route.startTime);
  const AsyncHttpServer* http = route.server->server.get();
  gauge(w, "relaydash_http_connections_open", "HTTP connections open now.",
        http ? static_cast<double>(http->openConnections()) : 0.0);
  counter(w, "relaydash_descriptors_reclaimed_total",
          "Connections closed to make room at the open-files limit.",
          http ? http->reclaimedConnections() : 0);
  counter(w, "relaydash_sign_in_failures_total", "Password checks that failed.",
          ctx.signIns.failures());
  counter(w, "relaydash_sign_ins_held_total",
          "Sign-in attempts the throttle held (made to wait, or dropped).", ctx.signIns.held());
}

void writeForwarder(ExpositionWriter& w, const ForwarderValues& v) {
  if (v.activeState) {
    w.family("relaydash_forwarder_unit_state",
             "The forwarder unit's ActiveState: 1 for the current one.", "gauge");
    for (const std::string_view state : kUnitStates) {
      w.sample("relaydash_forwarder_unit_state", {{"state", state}},
               std::int64_t{*v.activeState == state ? 1 : 0});
    }
  }
  if (v.restarts) {
    counter(w, "relaydash_forwarder_restarts_total",
            "Restarts of the forwarder by systemd (NRestarts).",
            static_cast<std::uint64_t>(std::max<std::int64_t>(*v.restarts, 0)));
  }
  if (v.newestReport) {
    gauge(w, "relaydash_forwarder_statistics_report_age_seconds",
          "From the newest statistics report's own time to now.",
          seconds(nowMicros() - *v.newestReport));
  }
  if (v.reports.started()) {
    const ForwarderTotals& t = v.reports.totals();
    counter(w, "relaydash_forwarder_statistics_reports_total",
            "Statistics reports counted since relaydash started.", t.reports);
    counter(w, "relaydash_forwarder_radio_packets_received_total", "Radio packets received.",
            t.received);
    counter(w, "relaydash_forwarder_radio_packets_crc_ok_total",
            "Radio packets received with a good CRC.", t.crcOk);
    counter(w, "relaydash_forwarder_radio_packets_crc_failed_total",
            "Radio packets received with a bad CRC.", t.crcFailed);
    counter(w, "relaydash_forwarder_radio_packets_forwarded_total",
            "Radio packets forwarded to the network server.", t.forwarded);
    counter(w, "relaydash_forwarder_push_data_sent_total", "PUSH_DATA datagrams sent.", t.pushSent);
    counter(w, "relaydash_forwarder_push_data_acknowledged_total",
            "PUSH_DATA datagrams the network server acknowledged.", t.pushAcknowledged);
    counter(w, "relaydash_forwarder_pull_data_sent_total", "PULL_DATA datagrams sent.", t.pullSent);
    counter(w, "relaydash_forwarder_pull_data_acknowledged_total",
            "PULL_DATA datagrams the network server acknowledged.", t.pullAcknowledged);
    counter(w, "relaydash_forwarder_downlinks_sent_total", "Packets the radio transmitted.",
            t.downlinksSent);
    counter(w, "relaydash_forwarder_tx_errors_total", "Transmissions that failed.", t.txErrors);
  }
  if (v.clockSynchronized) {
    gauge(w, "relaydash_clock_synchronized", "Whether the system clock is synchronised (NTP).",
          *v.clockSynchronized ? 1.0 : 0.0);
  }
  if (v.configVersion) {
    gauge(w, "relaydash_forwarder_config_version",
          "The newest history version that holds the configuration file as it is.",
          static_cast<double>(*v.configVersion));
  }
}

void writeChanges(ExpositionWriter& w, const ConfigChanges* changes, const ForwarderValues& v) {
  const ChangeCounts none;
  const ChangeCounts& counts = changes ? changes->counts() : none;
  if (counts.lastTime) {
    gauge(w, "relaydash_forwarder_config_last_apply_timestamp_seconds",
          "When the last apply or restore ended, in Unix time.", seconds(*counts.lastTime));
    w.family("relaydash_forwarder_config_last_apply_outcome",
             "How the last apply or restore ended.", "gauge");
    w.sample("relaydash_forwarder_config_last_apply_outcome",
             {{"outcome", kOutcomes[outcomeOf(counts.lastResult)]}}, std::int64_t{1});
  }
  std::array<std::uint64_t, kOutcomes.size()> byOutcome{};
  for (std::size_t r = 0; r < kChangeResults; ++r)
    byOutcome[outcomeOf(static_cast<ChangeResult>(r))] += counts.results[r];
  w.family("relaydash_forwarder_config_applies_total",
           "Applies and restores since relaydash started, by how they ended.", "counter");
  for (std::size_t o = 0; o < kOutcomes.size(); ++o) {
    w.sample("relaydash_forwarder_config_applies_total", {{"outcome", kOutcomes[o]}},
             static_cast<std::int64_t>(byOutcome[o]));
  }
  w.family("relaydash_forwarder_config_rollbacks_total",
           "Changes rolled back since relaydash started, by why.", "counter");
  for (std::size_t c = 0; c < kRollbackCauses; ++c) {
    w.sample("relaydash_forwarder_config_rollbacks_total",
             {{"reason", rollbackCauseName(static_cast<RollbackCause>(c))}},
             static_cast<std::int64_t>(counts.rollbacks[c]));
  }
  if (v.plan) {
    const std::string subBand = v.plan->subBand ? std::to_string(v.plan->subBand) : "";
    w.family("relaydash_forwarder_frequency_plan_info",
             "The frequency plan the forwarder's configuration implements exactly.", "gauge");
    w.sample("relaydash_forwarder_frequency_plan_info",
             {{"region", v.plan->region}, {"sub_band", subBand}}, std::int64_t{1});
  }
}

void writeExposition(std::string& out, Route& route, Context& ctx) {
  out.clear();
  ExpositionWriter w(out);
  writeServer(w, route, ctx);
  const ForwarderValues& v = route.gateway.values();
  writeForwarder(w, v);
  writeChanges(w, ctx.configChanges.get(), v);
}

Task<void> answer(std::shared_ptr<Route> route, Session& session) {
  Context& ctx = session.context;
  route->gateway.refreshIfOld(ctx);
  // Only until the first refresh has landed (or the wait is up): later scrapes answer at once.
  for (int i = 0; i < kFirstWaitSteps && !route->gateway.landed(); ++i)
    co_await SleepFor(kFirstWaitStep);
  std::string own;
  const bool shared = !route->bufferBusy;
  std::string& out = shared ? route->buffer : own;
  writeExposition(out, *route, ctx);
  if (!shared) {
    co_await respond(session, 200, out, kExpositionFields);
    co_return;
  }
  route->bufferBusy = true;
  try {
    co_await respond(session, 200, out, kExpositionFields);
  } catch (...) {
    route->bufferBusy = false;
    throw;
  }
  route->bufferBusy = false;
}

}  // namespace

HttpHandler metricsRoute(const HttpServer& server, MetricsKeyCheck accepts) {
  if (!accepts) {
    accepts = [](Context& ctx, std::string_view key) { return ctx.metricsKeys.accepts(key); };
  }
  auto route = std::make_shared<Route>();
  route->server = &server;
  route->accepts = std::move(accepts);
  return [route](Session& session) -> Task<void> {
    const Request& request = session.request;
    const std::vector<std::string>* authorization = request.headers.find("authorization");
    // Without a key the path answers as any unknown one: the route shows only to a key holder.
    if (!authorization || !session.path.empty() ||
        (request.reqMethod != HttpMethod::HttpGet && request.reqMethod != HttpMethod::HttpHead)) {
      return redirectToUi(session);
    }
    const std::string_view key =
        authorization->size() == 1 ? bearerKey(authorization->front()) : std::string_view();
    if (key.empty() || !route->accepts(session.context, key)) return respond(session, refusal());
    return answer(route, session);
  };
}

}  // namespace relaydash
