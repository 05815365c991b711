#include "route.hpp"

#include <array>
#include <memory>
#include <string_view>
#include <utility>

#include "api.hpp"
#include "auth.hpp"
#include "ctx.hpp"
#include "model/account_model.hpp"
#include "server/http_error.hpp"
#include "server/http_json.hpp"

namespace relaydash {
namespace {

struct Route {
  std::string_view path;
  Task<JsonNodePtr> (*procedure)(Session&, JsonNodePtr);
  bool tokenRequired;
};

constexpr std::array<Route, 15> kRoutes{{
    {"forwarder-config/get", fowarderConfig_get, true},
    {"forwarder-config/patch", fowarderConfig_patch, true},
    {"password/update", password_update, true},
    {"login/password", login_password, false},
    {"sshd/start", sshd_start, true},
    {"sshd/stop", sshd_stop, true},
    {"gateway/status", gateway_status, true},
    {"gateway/logs", gateway_logs, true},
    {"forwarder-config/apply", forwarderConfig_apply, true},
    {"forwarder-config/restore", forwarderConfig_restore, true},
    {"forwarder-config/upload", forwarderConfig_upload, true},
    {"forwarder-config/progress", forwarderConfig_progress, true},
    {"forwarder-config/text", forwarderConfig_text, true},
    {"forwarder-config/history", forwarderConfig_history, true},
    {"forwarder-config/version", forwarderConfig_version, true},
}};

constexpr bool onlyLoginIsOpen() {
  int open = 0;
  for (const Route& route : kRoutes)
    open += route.tokenRequired ? 0 : 1;
  return open == 1;
}
static_assert(onlyLoginIsOpen(), "every procedure but the login needs a token");

Task<JsonNodePtr> withToken(std::shared_ptr<const JsonHandler> handler, Session& session,
                            JsonNodePtr input) {
  const Context& ctx = session.context;
  const std::string& token = httpJsonMustGetString(*input, "auth");
  JsonNodePtr payload;
  try {
    payload = decodeAuthToken(ctx.secret, token);
  } catch (const InvalidTokenError&) {
    raiseHttpException(403, ErrorCode::InvalidAuthToken);
  } catch (const std::exception&) {
    // Text that is not even base64 is no token either, but the codec reports it otherwise.
    raiseHttpException(403, ErrorCode::InsufficientAccessRight);
  }
  if (!payload->hasKey("username")) raiseHttpException(403, ErrorCode::InsufficientAccessRight);
  session.user = payload->at("username")->getString();
  co_return co_await (*handler)(session, std::move(input));
}

// A password member that is there but holds no string is refused: reading it as the empty
// string would quietly set an empty password.
const std::string& passwordText(const JsonNode& member, std::string_view key) {
  if (!member.isString() || member.isRawNumber()) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field " + std::string(key) + " is not a string");
  }
  return member.getString();
}

}  // namespace

JsonNodePtr answer(JsonNodePtr output) {
  JsonNodePtr body = newJObject();
  body->set("output", std::move(output));
  return body;
}

void setupJsonApiRoute(HttpServer& server) {
  const std::shared_ptr<JsonApiRouter> procedures = newJsonApiRouter();
  for (const Route& route : kRoutes) {
    procedures->mount(route.path,
                      route.tokenRequired ? loginOnly(route.procedure) : route.procedure);
  }
  const HttpHandler handler = jsonApiHandler(procedures);
  mount(server, "rpc", handler);
  mount(server, "rpc/v1", handler);
}

JsonHandler loginOnly(JsonHandler handler) {
  // Shared with every request in flight, so a request never outlives the procedure it runs.
  auto wrapped = std::make_shared<const JsonHandler>(std::move(handler));
  return [wrapped](Session& session, JsonNodePtr input) {
    return withToken(wrapped, session, std::move(input));
  };
}

Task<JsonNodePtr> login_password(Session& session, JsonNodePtr input) {
  const Context& ctx = session.context;
  const std::string& username = httpJsonMustGetString(*input, "username");
  const std::string& password = httpJsonMustGetString(*input, "password");
  // An unknown name raises UserNotFoundError, which the error hook answers as a mismatch.
  if (!checkAccountPassword(ctx.db, username, password)) {
    raiseHttpException(403, ErrorCode::InvalidPassword);
  }
  JsonNodePtr payload = newJObject();
  payload->set("username", newJString(username));
  JsonNodePtr output = newJObject();
  output->set("auth", newJString(encodeAuthToken(ctx.secret, *payload)));
  co_return answer(std::move(output));
}

Task<JsonNodePtr> password_update(Session& session, JsonNodePtr input) {
  const Context& ctx = session.context;
  const JsonNode& arguments = *input->at("input");
  // Missing members fail as plain lookups first, whatever the type of the other one.
  const JsonNode& current = *arguments.at("currentPassword");
  const JsonNode& next = *arguments.at("newPassword");
  const std::string& currentPassword = passwordText(current, "currentPassword");
  const std::string& newPassword = passwordText(next, "newPassword");
  try {
    updateAccountPassword(ctx.db, kAdminName, currentPassword, newPassword);
  } catch (const HashNotMatchError&) {
    raiseHttpException(400, ErrorCode::PasswordMismatch);
  }
  co_return answer(newJObject());
}

Task<JsonNodePtr> sshd_start(Session&, JsonNodePtr) {
  co_await start(std::string(kSshUnit));
  co_await enable(std::string(kSshUnit));
  co_return answer(newJObject());
}

Task<JsonNodePtr> sshd_stop(Session&, JsonNodePtr) {
  co_await stop(std::string(kSshUnit));
  co_await disable(std::string(kSshUnit));
  co_return answer(newJObject());
}

Task<JsonNodePtr> fowarderConfig_get(Session& session, JsonNodePtr) {
  co_return answer(co_await getForwarderConfig(session.context.forwarderConfigPath));
}

Task<JsonNodePtr> fowarderConfig_patch(Session& session, JsonNodePtr input) {
  const Context& ctx = session.context;
  JsonNodePtr patch = input->at("input");
  const ConfigChanges::Turn turn = co_await keepVersionForPatch(session);
  co_await updateForwarderConfig(ctx.forwarderConfigPath, std::move(patch));
  // An empty name means the forwarder is not run as a unit: nothing to restart.
  if (!ctx.forwarderUnitServiceName.empty()) co_await restart(ctx.forwarderUnitServiceName);
  co_return answer(newJObject());
}

}  // namespace relaydash
