#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway/forwarder_summary.hpp"
#include "gateway/link_health.hpp"
#include "gateway/report_history.hpp"
#include "gateway/system_facts.hpp"
#include "gateway/unit_status.hpp"
#include "runtime/shared_read.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The forwarder's unit (nullopt when it is not run by systemd: only SSH is asked about then)
// and SSH's.
struct Units {
  std::optional<UnitStatus> forwarder;
  UnitStatus ssh;
};

// What gateway/status reads from the gateway, shared by every viewer: each source is read at
// most once per kFresh however many tabs and scripts ask, one read in flight at a time, and a
// unit relaydash starts, stops or restarts itself is read again at the next call. Each read
// raises its source's error; the status answers the other parts all the same.
class StatusReads {
 public:
  // The page asks every 5 s. RELAYDASH_STATUS_FRESH_MS in the environment sets another time
  // (0: every call reads again), read when the server starts.
  static constexpr std::chrono::milliseconds kFresh{5'000};

  StatusReads(std::string forwarderUnit, std::string configPath);

  Task<std::shared_ptr<const Units>> units();
  Task<std::shared_ptr<const std::optional<bool>>> clockSynchronized();
  Task<std::shared_ptr<const SystemFacts>> system();
  Task<std::shared_ptr<const ForwarderSummary>> forwarderConfig();
  // The last hour's statistics reports, oldest first; none without a forwarder unit. Kept
  // between calls: journalctl reads only what the journal got since, and runs only when it got
  // something.
  Task<std::shared_ptr<const std::vector<LinkReport>>> reports();

 private:
  void noteChangesMade();

  std::string forwarderUnit_;
  std::string configPath_;
  std::uint64_t unitChangesSeen_ = 0;
  std::chrono::milliseconds fresh_;
  SharedRead<Units> units_{fresh_};
  SharedRead<std::optional<bool>> clock_{fresh_};
  SharedRead<SystemFacts> system_{fresh_};
  SharedRead<ForwarderSummary> config_{fresh_};
  ReportHistory history_;
  SharedRead<std::vector<LinkReport>> reports_{fresh_};
};

}  // namespace relaydash
