#include "gateway/unit_status.hpp"

#include <charconv>

#include "gateway/command.hpp"
#include "gateway/time_text.hpp"
#include "gateway/unit_bus.hpp"

namespace relaydash {
namespace {

const std::string* find(const UnitProperties& properties, std::string_view name) {
  for (const auto& [key, value] : properties) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::string text(const UnitProperties& properties, std::string_view name) {
  const std::string* value = find(properties, name);
  return value ? *value : std::string();
}

std::optional<std::string> optionalText(const UnitProperties& properties, std::string_view name) {
  const std::string* value = find(properties, name);
  if (!value || value->empty()) return std::nullopt;
  return *value;
}

std::optional<std::int64_t> number(const UnitProperties& properties, std::string_view name) {
  const std::string* value = find(properties, name);
  if (!value) return std::nullopt;
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), n);
  if (error != std::errc() || end != value->data() + value->size()) return std::nullopt;
  return n;
}

std::optional<std::int64_t> timestamp(const UnitProperties& properties, std::string_view name) {
  const std::string* value = find(properties, name);
  return value ? parseSystemdTimestamp(*value) : std::nullopt;
}

}  // namespace

std::vector<UnitProperties> parseUnitProperties(std::string_view output) {
  std::vector<UnitProperties> units;
  bool inBlock = false;
  while (!output.empty()) {
    const std::size_t end = std::min(output.find('\n'), output.size());
    std::string_view line = output.substr(0, end);
    output.remove_prefix(std::min(end + 1, output.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      inBlock = false;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    if (!inBlock) {
      units.emplace_back();
      inBlock = true;
    }
    units.back().emplace_back(std::string(line.substr(0, equals)),
                              std::string(line.substr(equals + 1)));
  }
  return units;
}

UnitStatus unitStatusFrom(std::string unit, const UnitProperties& properties) {
  UnitStatus status;
  status.unit = std::move(unit);
  status.loadState = text(properties, "LoadState");
  status.activeState = text(properties, "ActiveState");
  status.subState = text(properties, "SubState");
  status.result = optionalText(properties, "Result");
  status.unitFileState = optionalText(properties, "UnitFileState");
  status.activeSince = timestamp(properties, "ActiveEnterTimestamp");
  status.stateChangedAt = timestamp(properties, "StateChangeTimestamp");
  status.restarts = number(properties, "NRestarts");
  status.mainPid = number(properties, "MainPID");
  if (status.mainPid == 0) status.mainPid.reset();
  return status;
}

Task<std::vector<UnitStatus>> readUnitStatus(std::vector<std::string> units) {
  try {
    std::vector<UnitStatus> statuses = co_await readUnitStatusOverBus(units);
    noteSystemdWay(std::nullopt);
    co_return statuses;
  } catch (const BusError& e) {
    if (e.unreachable()) {
      noteSystemdWay(e.what());
    } else {
      noteBusCallFailure("the units", e.what());
    }
  }
  std::vector<std::string> argv{"systemctl", "show", "--property=" + std::string(kUnitProperties)};
  // "--" keeps a unit name that starts with "-" from being read as an option.
  argv.emplace_back("--");
  argv.insert(argv.end(), units.begin(), units.end());
  ProcessResult result = co_await runTool(std::move(argv));
  const std::vector<UnitProperties> blocks = parseUnitProperties(result.output);
  if (blocks.size() != units.size()) {
    std::string message = "systemctl show answered for " + std::to_string(blocks.size()) +
                          " units instead of " + std::to_string(units.size());
    throw CommandError(std::move(message), std::move(result));
  }
  std::vector<UnitStatus> statuses;
  statuses.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i)
    statuses.push_back(unitStatusFrom(std::move(units[i]), blocks[i]));
  co_return statuses;
}

}  // namespace relaydash
