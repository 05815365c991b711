#pragma once

#include <span>

#include "api/procedure.hpp"

namespace relaydash {

// sshd/start and sshd/stop: the SSH daemon's unit started and enabled, or stopped and disabled.
std::span<const Procedure> sshProcedures();

}  // namespace relaydash
