#include "api/gateway/status_reads.hpp"

#include <chrono>
#include <utility>

#include "api/gateway/units.hpp"
#include "gateway/service_control.hpp"
#include "runtime/environment.hpp"

namespace relaydash {
namespace {

Task<Units> readUnits(std::string forwarderUnit) {
  const bool forwarder = !forwarderUnit.empty();
  std::vector<std::string> names;
  if (forwarder) names.push_back(std::move(forwarderUnit));
  names.emplace_back(kSshUnit);
  std::vector<UnitStatus> units = co_await readUnitStatus(std::move(names));
  Units read;
  if (forwarder) read.forwarder = std::move(units.front());
  read.ssh = std::move(units.back());
  co_return read;
}

// Plain functions the shared reads can run as tasks.
Task<SystemFacts> readSystem(std::string storagePath) {
  co_return readSystemFacts(storagePath);
}

Task<ForwarderSummary> readForwarderConfig(std::string path) {
  co_return summarizeForwarderConfig(path);
}

Task<ReportHistory::Reports> noReports() {
  co_return std::make_shared<const std::vector<LinkReport>>();
}

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

StatusReads::StatusReads(std::string forwarderUnit, std::string configPath)
    : forwarderUnit_(std::move(forwarderUnit)),
      configPath_(std::move(configPath)),
      fresh_(millisecondsFromEnvironment("RELAYDASH_STATUS_FRESH_MS", 0).value_or(kFresh)) {}

// A restart relaydash made may have come with a new configuration file too.
void StatusReads::noteChangesMade() {
  if (const std::uint64_t made = unitChanges(); made != unitChangesSeen_) {
    unitChangesSeen_ = made;
    units_.forget();
    config_.forget();
  }
}

Task<std::shared_ptr<const Units>> StatusReads::units() {
  noteChangesMade();
  co_return co_await units_.get([this] { return readUnits(forwarderUnit_); });
}

Task<std::shared_ptr<const std::optional<bool>>> StatusReads::clockSynchronized() {
  co_return co_await clock_.get([] { return readClockSynchronized(); });
}

Task<std::shared_ptr<const SystemFacts>> StatusReads::system() {
  co_return co_await system_.get([this] { return readSystem(configPath_); });
}

Task<std::shared_ptr<const ForwarderSummary>> StatusReads::forwarderConfig() {
  noteChangesMade();
  co_return co_await config_.get([this] { return readForwarderConfig(configPath_); });
}

Task<std::shared_ptr<const std::vector<LinkReport>>> StatusReads::reports() {
  co_return co_await reports_.get([this]() -> Task<ReportHistory::Reports> {
    if (forwarderUnit_.empty()) return noReports();
    return history_.reports(forwarderUnit_, nowMicros());
  });
}

}  // namespace relaydash
