#pragma once

#include "gateway/config_change.hpp"
#include "gateway/config_history.hpp"
#include "json/value.hpp"

namespace relaydash {

// The JSON forms of the configuration's changes and history in the answers of the
// forwarder-config procedures. Members always come in the order written here.

// {"version","time","user","peer","procedure","size","kind","reason","changed","ranSince",
//  "ranSeconds","ranWell","restores"}
JsonNodePtr configVersionJson(const ConfigVersion& version);

// [{"path","message"}, …]
JsonNodePtr configProblemsJson(const std::vector<ConfigProblem>& problems);

// {"result","message","version","rejectedVersion","keptLayout","restarted","problems","journal",
//  "link"}
JsonNodePtr changeOutcomeJson(const ChangeOutcome& outcome);

// {"id","running","procedure","user","peer","step","version","settleSeconds","secondsLeft",
//  "reason","outcome","waitingFor"}: id 0 and nulls before the first change.
JsonNodePtr changeProgressJson(const std::optional<ChangeProgress>& progress);

// null, or {"time","procedure","user","version","state","message","rejectedVersion"}: a change
// that a previous run of relaydash was watching when it stopped.
JsonNodePtr interruptedChangeJson(const std::optional<InterruptedChange>& change);

}  // namespace relaydash
