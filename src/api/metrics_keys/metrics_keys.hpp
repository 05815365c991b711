#pragma once

#include <span>

#include "api/procedure.hpp"

namespace relaydash {

// metrics-keys/create, metrics-keys/list and metrics-keys/revoke: the keys that may read
// /metrics, made and revoked by the signed-in operator. A key's text is answered once, by
// create; making and revoking are audited with the key's name.
std::span<const Procedure> metricsKeysProcedures();

}  // namespace relaydash
