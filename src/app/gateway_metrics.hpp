#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "api/context.hpp"
#include "gateway/frequency_plan.hpp"
#include "gateway/report_totals.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// What /metrics tells of the forwarder, read from the gateway: nullopt (or nullptr) for what is
// not known (no forwarder unit, not read yet, or its source failed).
struct ForwarderValues {
  std::optional<std::string> activeState;    // the unit's ActiveState
  std::optional<std::int64_t> restarts;      // its NRestarts
  ReportTotals reports;                      // started() once the reports were read
  std::optional<std::int64_t> newestReport;  // the newest report's own time, microseconds UTC
  std::optional<bool> clockSynchronized;
  std::optional<int> configVersion;     // the newest history version holding the file as it is
  const FrequencyPlan* plan = nullptr;  // the plan the file implements exactly
};

// The forwarder's values, read in the background so that a scrape only answers what is held:
// refreshIfOld starts a refresh on the event loop when the values are older than the status's
// freshness (StatusReads::kFresh, or RELAYDASH_STATUS_FRESH_MS) and none is under way. A refresh
// reads what gateway/status reads, through the same shared reads, so scrapes and Status tabs
// together cost the gateway no more than one of them alone.
class GatewayMetrics {
 public:
  GatewayMetrics();

  // Never waits; the refresh runs on the calling thread's event loop. ctx must outlive it.
  void refreshIfOld(Context& ctx);
  bool landed() const noexcept { return state_->landed; }
  const ForwarderValues& values() const noexcept { return state_->values; }

 private:
  struct State {
    std::chrono::milliseconds fresh{};
    ForwarderValues values;
    bool landed = false;  // a refresh has finished
    bool refreshing = false;
    std::chrono::steady_clock::time_point refreshedAt{};
    // What the history version was found for: the file's time and size, and the changes made.
    std::optional<std::tuple<std::int64_t, std::int64_t, std::uint64_t>> versionFor;
  };
  static Task<void> refresh(std::shared_ptr<State> state, Context& ctx);

  // Shared with the refresh under way, which may outlive a server torn down in a test.
  std::shared_ptr<State> state_;
};

}  // namespace relaydash
