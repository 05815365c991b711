#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/task.hpp"

namespace relaydash {

// What systemd says of one unit, over D-Bus or from `systemctl show`. Absent or empty properties
// are nullopt.
struct UnitStatus {
  std::string unit;         // the name as it was asked for
  std::string loadState;    // "loaded", "not-found", "masked", ...
  std::string activeState;  // "active", "activating", "deactivating", "inactive", "failed", ...
  std::string subState;     // "running", "auto-restart", "dead", "failed", "exited", ...
  std::optional<std::string> result;         // "success", "exit-code", "signal", "timeout", ...
  std::optional<std::string> unitFileState;  // "enabled", "disabled", "static", ...
  // When the unit last became active, and when its state last changed (microseconds, UTC).
  std::optional<std::int64_t> activeSince;
  std::optional<std::int64_t> stateChangedAt;
  std::optional<std::int64_t> restarts;  // NRestarts (systemd 235 and later)
  std::optional<std::int64_t> mainPid;   // nullopt for MainPID=0: no process

  bool operator==(const UnitStatus&) const = default;
};

// The properties asked of systemctl, in its --property form.
inline constexpr std::string_view kUnitProperties =
    "LoadState,ActiveState,SubState,Result,UnitFileState,ActiveEnterTimestamp,"
    "StateChangeTimestamp,NRestarts,MainPID";

// One unit's "Name=value" lines; a value may be empty.
using UnitProperties = std::vector<std::pair<std::string, std::string>>;

// Splits `systemctl show A B …` output into the units' blocks, in the order they were asked
// for: properties are "Name=value" lines (the value is everything after the first "="), and an
// empty line separates one unit from the next. Lines without "=" are ignored.
std::vector<UnitProperties> parseUnitProperties(std::string_view text);

UnitStatus unitStatusFrom(std::string unit, const UnitProperties& properties);

// Asks systemd about the units over D-Bus (see unit_bus.hpp), or, where the bus cannot be
// reached or gives no answer, systemctl in one call. Raises CommandError when systemctl fails or
// answers for a different number of units than asked.
Task<std::vector<UnitStatus>> readUnitStatus(std::vector<std::string> units);

}  // namespace relaydash
