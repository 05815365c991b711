#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gateway/system_bus.hpp"
#include "gateway/unit_status.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The name systemd knows a unit by: systemctl reads a name without a unit type's suffix as a
// service ("ssh" is "ssh.service"), and so does this.
std::string systemdUnitName(std::string_view unit);

// What unitStatusFrom makes of systemctl's lines, from the properties of the unit's
// org.freedesktop.systemd1.Unit interface and, for a service, of its
// org.freedesktop.systemd1.Service interface (null for other units: Result, NRestarts and MainPID
// are then nullopt). Timestamps are microseconds of the real-time clock, 0 for never.
UnitStatus unitStatusFromBus(std::string unit, const BusProperties& unitProperties,
                             const BusProperties* serviceProperties);

// Asks systemd's manager about the units over the system bus, every question at once, within
// 2 s. A unit systemd does not know is an answer (LoadState "not-found"). Raises BusError.
Task<std::vector<UnitStatus>> readUnitStatusOverBus(const std::vector<std::string>& units);

}  // namespace relaydash
