#pragma once

#include <cstdint>
#include <optional>

#include <string_view>

#include "gateway/config_change.hpp"
#include "json/value.hpp"
#include "runtime/task.hpp"
#include "server/http_handler.hpp"
#include "server/http_server.hpp"

namespace relaydash {

// Mounts the management API's procedures on a JSON API router and mounts that router's handler
// on the server under "rpc" and "rpc/v1". A request other than the preflight is answered only
// when checkRequestOrigin lets it through with the context's allowed host names.
void setupJsonApiRoute(HttpServer& server);

// Lets a request through to the procedure only when its "auth" member holds a token that opens
// with the context's key and carries a "username".
JsonHandler loginOnly(JsonHandler handler);

// {"output": output}: the body of every successful answer.
JsonNodePtr answer(JsonNodePtr output);

// The SSH daemon's unit.
inline constexpr std::string_view kSshUnit = "ssh";

// The procedures. Each answers {"output": …}.
Task<JsonNodePtr> login_password(Session& session, JsonNodePtr input);
Task<JsonNodePtr> password_update(Session& session, JsonNodePtr input);
Task<JsonNodePtr> sshd_start(Session& session, JsonNodePtr input);
Task<JsonNodePtr> sshd_stop(Session& session, JsonNodePtr input);
Task<JsonNodePtr> fowarderConfig_get(Session& session, JsonNodePtr input);
Task<JsonNodePtr> fowarderConfig_patch(Session& session, JsonNodePtr input);
// What the gateway is doing (gateway_status.cpp) and the journal of its units (gateway_logs.cpp).
Task<JsonNodePtr> gateway_status(Session& session, JsonNodePtr input);
Task<JsonNodePtr> gateway_logs(Session& session, JsonNodePtr input);
// Safe changes of the forwarder's configuration and its history (config_routes.cpp).
Task<JsonNodePtr> forwarderConfig_apply(Session& session, JsonNodePtr input);
Task<JsonNodePtr> forwarderConfig_restore(Session& session, JsonNodePtr input);
Task<JsonNodePtr> forwarderConfig_upload(Session& session, JsonNodePtr input);
Task<JsonNodePtr> forwarderConfig_progress(Session& session, JsonNodePtr input);
Task<JsonNodePtr> forwarderConfig_text(Session& session, JsonNodePtr input);
Task<JsonNodePtr> forwarderConfig_history(Session& session, JsonNodePtr input);
Task<JsonNodePtr> forwarderConfig_version(Session& session, JsonNodePtr input);

// The server's one ConfigChanges, made on first use (config_routes.cpp).
ConfigChanges& configChanges(Context& ctx);
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
