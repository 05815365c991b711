#include "app/gateway_metrics.hpp"

#include "api/gateway/status_reads.hpp"
#include "gateway/config_change.hpp"
#include "gateway/text_file.hpp"
#include "runtime/environment.hpp"
#include "runtime/event_loop.hpp"

namespace relaydash {
namespace {

const FrequencyPlan* planNamed(const std::optional<std::string>& name) {
  if (!name) return nullptr;
  for (const FrequencyPlan& plan : frequencyPlans()) {
    if (plan.name == *name) return &plan;
  }
  return nullptr;  // "custom"
}

}  // namespace

GatewayMetrics::GatewayMetrics() : state_(std::make_shared<State>()) {
  state_->fresh =
      millisecondsFromEnvironment("RELAYDASH_STATUS_FRESH_MS", 0).value_or(StatusReads::kFresh);
}

void GatewayMetrics::refreshIfOld(Context& ctx) {
  State& s = *state_;
  if (s.refreshing) return;
  if (s.landed && std::chrono::steady_clock::now() - s.refreshedAt < s.fresh) return;
  s.refreshing = true;
  EventLoop::current().spawn(refresh(state_, ctx));
}

Task<void> GatewayMetrics::refresh(std::shared_ptr<State> state, Context& ctx) {
  // However the refresh ends (its frame destroyed with the loop included), the next may start.
  struct Finish {
    State& s;
    ~Finish() { s.refreshing = false; }
  } finish{*state};
  ForwarderValues& v = state->values;
  // Each source stands alone, as in gateway/status: one that fails leaves its values unknown
  // (the report totals keep what they counted).
  if (const std::shared_ptr<StatusReads> reads = ctx.statusReads) {
    try {
      const std::shared_ptr<const Units> units = co_await reads->units();
      v.activeState.reset();
      v.restarts.reset();
      if (units->forwarder) {
        v.activeState = units->forwarder->activeState;
        v.restarts = units->forwarder->restarts;
      }
    } catch (const std::exception&) {
      v.activeState.reset();
      v.restarts.reset();
    }
    if (!ctx.forwarderUnitServiceName.empty()) {
      try {
        const std::shared_ptr<const std::vector<LinkReport>> reports = co_await reads->reports();
        v.reports.take(*reports);
        v.newestReport.reset();
        if (!reports->empty()) v.newestReport = reports->back().time;
      } catch (const std::exception&) {
      }
    }
    try {
      v.clockSynchronized = *co_await reads->clockSynchronized();
    } catch (const std::exception&) {
      v.clockSynchronized.reset();
    }
    try {
      const std::shared_ptr<const ForwarderSummary> summary = co_await reads->forwarderConfig();
      v.plan = planNamed(summary->plan);
      // Finding the version reads the history's files: only when the file or the history may
      // have changed.
      if (ConfigChanges* changes = ctx.configChanges.get()) {
        const std::uint64_t made = changes->progress() ? changes->progress()->id : 0;
        const auto key =
            std::make_tuple(summary->modified.value_or(-1), summary->sizeBytes.value_or(-1), made);
        if (state->versionFor != key) {
          state->versionFor = key;
          v.configVersion = changes->history().newestHolding(readTextFile(ctx.forwarderConfigPath));
        }
      }
    } catch (const std::exception&) {
      v.plan = nullptr;
      v.configVersion.reset();
      state->versionFor.reset();
    }
  }
  state->refreshedAt = std::chrono::steady_clock::now();
  state->landed = true;
}

}  // namespace relaydash
