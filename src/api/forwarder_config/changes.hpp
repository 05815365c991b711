#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "gateway/config_change.hpp"
#include "runtime/task.hpp"
#include "server/http_session.hpp"

namespace relaydash {

struct Context;

// The server's one ConfigChanges, built with the context at start-up.
ConfigChanges& configChanges(Context& ctx);

// Who makes a change: the signed-in user, the request's peer and the procedure.
ChangeAuthor authorOf(const Session& session, std::string_view procedure);

// For forwarder-config/patch: waits while an apply or restore runs, keeps the file as it is in
// the history (best effort: a failure is printed on standard output and changes nothing else),
// and holds the turn until the patch is done with the file. The version is the one kept, if any.
struct PatchTurn {
  ConfigChanges::Turn turn;
  std::optional<std::int64_t> version;
};
Task<PatchTurn> keepVersionForPatch(Session& session);

// At start-up: finishes the watch of a change that a stop of relaydash interrupted (rolling it
// back when the forwarder does not keep running with it) and records it in the audit trail as
// the server's own action.
Task<void> finishInterruptedChange(Context& ctx);

}  // namespace relaydash
