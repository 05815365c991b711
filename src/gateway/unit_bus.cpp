#include "gateway/unit_bus.hpp"

#include <array>
#include <chrono>
#include <optional>
#include <utility>

namespace relaydash {
namespace {

constexpr const char* kManager = "org.freedesktop.systemd1";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
constexpr auto kTimeout = std::chrono::seconds(2);

const BusValue* find(const BusProperties* properties, std::string_view name) {
  if (properties == nullptr) return nullptr;
  for (const auto& [key, value] : *properties) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::optional<std::string> optionalText(const BusProperties* properties, std::string_view name) {
  const BusValue* value = find(properties, name);
  const auto* text = value ? std::get_if<std::string>(value) : nullptr;
  if (text == nullptr || text->empty()) return std::nullopt;
  return *text;
}

std::string text(const BusProperties* properties, std::string_view name) {
  return optionalText(properties, name).value_or(std::string());
}

// A number; 0 is nullopt where it stands for "none" (a timestamp never reached, no process).
std::optional<std::int64_t> number(const BusProperties* properties, std::string_view name,
                                   bool zeroIsNone) {
  const BusValue* value = find(properties, name);
  const auto* n = value ? std::get_if<std::uint64_t>(value) : nullptr;
  if (n == nullptr || *n > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  if (zeroIsNone && *n == 0) return std::nullopt;
  return static_cast<std::int64_t>(*n);
}

bool isService(std::string_view name) {
  return name.ends_with(".service");
}

// What systemd answers for an object it has no unit for.
bool noSuchUnit(const std::string& error) {
  return error == "org.freedesktop.systemd1.NoSuchUnit" ||
         error == "org.freedesktop.DBus.Error.UnknownObject";
}

// The call failed on its way rather than being refused by systemd.
bool unanswered(const std::string& error) {
  return error == "org.freedesktop.DBus.Error.NoReply" ||
         error == "org.freedesktop.DBus.Error.Timeout" ||
         error == "org.freedesktop.DBus.Error.Disconnected";
}

}  // namespace

std::string systemdUnitName(std::string_view unit) {
  static constexpr std::array<std::string_view, 11> kTypes{
      ".service", ".socket", ".target", ".device", ".mount", ".automount",
      ".swap",    ".timer",  ".path",   ".slice",  ".scope"};
  for (std::string_view type : kTypes) {
    if (unit.size() > type.size() && unit.ends_with(type)) return std::string(unit);
  }
  return std::string(unit) + ".service";
}

UnitStatus unitStatusFromBus(std::string unit, const BusProperties& unitProperties,
                             const BusProperties* serviceProperties) {
  UnitStatus status;
  status.unit = std::move(unit);
  status.loadState = text(&unitProperties, "LoadState");
  status.activeState = text(&unitProperties, "ActiveState");
  status.subState = text(&unitProperties, "SubState");
  status.result = optionalText(serviceProperties, "Result");
  status.unitFileState = optionalText(&unitProperties, "UnitFileState");
  status.activeSince = number(&unitProperties, "ActiveEnterTimestamp", true);
  status.stateChangedAt = number(&unitProperties, "StateChangeTimestamp", true);
  status.restarts = number(serviceProperties, "NRestarts", false);
  status.mainPid = number(serviceProperties, "MainPID", true);
  return status;
}

Task<std::vector<UnitStatus>> readUnitStatusOverBus(const std::vector<std::string>& units) {
  std::vector<BusCall> calls;
  // Where each unit's calls are: its Unit interface's, and its Service interface's or none.
  std::vector<std::pair<std::size_t, std::optional<std::size_t>>> asked;
  for (const std::string& unit : units) {
    const std::string name = systemdUnitName(unit);
    const std::string path = unitObjectPath(name);
    const std::size_t first = calls.size();
    calls.push_back(
        BusCall{kManager, path, "org.freedesktop.DBus.Properties", "GetAll", {kUnitInterface}});
    std::optional<std::size_t> second;
    if (isService(name)) {
      second = calls.size();
      calls.push_back(BusCall{
          kManager, path, "org.freedesktop.DBus.Properties", "GetAll", {kServiceInterface}});
    }
    asked.emplace_back(first, second);
  }
  std::vector<BusReply> replies = co_await callSystemBus(std::move(calls), kTimeout);
  std::vector<UnitStatus> statuses;
  statuses.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    BusReply& unitReply = replies[asked[i].first];
    const std::string error = unitReply.errorName();
    if (noSuchUnit(error)) {
      // As systemctl shows a unit it cannot find.
      const BusProperties missing{{"LoadState", std::string("not-found")},
                                  {"ActiveState", std::string("inactive")},
                                  {"SubState", std::string("dead")}};
      statuses.push_back(unitStatusFromBus(units[i], missing, nullptr));
      continue;
    }
    const BusProperties unitProperties = unitReply.propertyMap();
    // A unit without the interface (a service not loaded, say) has none of its properties.
    std::optional<BusProperties> serviceProperties;
    if (asked[i].second) {
      BusReply& serviceReply = replies[*asked[i].second];
      const std::string serviceError = serviceReply.errorName();
      if (unanswered(serviceError))
        throw BusError(serviceError + ": " + serviceReply.errorMessage(), false);
      if (serviceError.empty()) serviceProperties = serviceReply.propertyMap();
    }
    statuses.push_back(unitStatusFromBus(units[i], unitProperties,
                                         serviceProperties ? &*serviceProperties : nullptr));
  }
  co_return statuses;
}

}  // namespace relaydash
