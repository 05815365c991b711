#include "route.hpp"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "api.hpp"
#include "audit.hpp"
#include "auth.hpp"
#include "ctx.hpp"
#include "initial_password.hpp"
#include "model/account_model.hpp"
#include "runtime/event_loop.hpp"
#include "server/http_error.hpp"
#include "server/http_json.hpp"
#include "server/request_origin.hpp"
#include "transport/request.hpp"

namespace relaydash {
namespace {

struct Route {
  std::string_view path;
  Task<JsonNodePtr> (*procedure)(Session&, JsonNodePtr);
  bool tokenRequired;
};

constexpr std::array<Route, 16> kRoutes{{
    {"forwarder-config/get", fowarderConfig_get, true},
    {"forwarder-config/patch", fowarderConfig_patch, true},
    {"password/update", password_update, true},
    {"login/password", login_password, false},
    {"sshd/start", sshd_start, true},
    {"sshd/stop", sshd_stop, true},
    {"gateway/status", gateway_status, true},
    {"gateway/logs", gateway_logs, true},
    {"audit/list", audit_list, true},
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
  Context& ctx = session.context;
  const std::string& token = httpJsonMustGetString(*input, "auth");
  JsonNodePtr payload;
  try {
    payload = ctx.tokenKeys.open(token, ctx.clock.now());
  } catch (const InvalidTokenError&) {
    raiseHttpException(403, ErrorCode::InvalidAuthToken);
  } catch (const ExpiredTokenError&) {
    raiseHttpException(403, ErrorCode::ExpiredAuthToken);
  } catch (const std::exception&) {
    // Text that is not even base64 is no token either, but the codec reports it otherwise.
    raiseHttpException(403, ErrorCode::InsufficientAccessRight);
  }
  if (!payload->hasKey("username")) raiseHttpException(403, ErrorCode::InsufficientAccessRight);
  session.user = payload->at("username")->getString();
  session.signIn = std::hash<std::string_view>{}(token);
  co_return co_await (*handler)(session, std::move(input));
}

void signInFailed(Session& session) {
  Context& ctx = session.context;
  ctx.signIns.failed(session.request.hostname, ctx.clock.now());
  recordAudit(session, kAuditSignIn, AuditOutcome::Failure);
}

// The API serves pages of its own origin reached by a name this gateway answers to, and clients
// that are no browser page at all; anything else is refused before a procedure runs. The
// preflight runs nothing and answers everyone alike, so it is left as it is.
HttpHandler fromOwnPagesOnly(HttpHandler handler) {
  return [handler = std::move(handler)](Session& session) {
    if (session.request.reqMethod != HttpMethod::HttpOptions) {
      checkRequestOrigin(session.request, session.context.allowedHosts);
    }
    return handler(session);
  };
}

// Waits for the request's turn to have a password checked: an address, a network or a gateway
// that keeps failing waits its turn, and the answer, when it comes, is the same. The ticket is to
// be held until the check is done. Raises SignInDropped when the attempt cannot even wait.
Task<SignInThrottle::Ticket> turnToCheckPassword(Session& session) {
  Context& ctx = session.context;
  std::optional<SignInThrottle::Ticket> place =
      ctx.signIns.admit(session.request.hostname, ctx.clock.now());
  if (!place)
    throw SignInDropped("password checks queued from " + std::string(session.request.hostname));
  if (place->wait() > SignInThrottle::Duration::zero()) {
    co_await SleepFor(std::chrono::ceil<std::chrono::milliseconds>(place->wait()));
  }
  co_return std::move(*place);
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
  const HttpHandler handler = fromOwnPagesOnly(jsonApiHandler(procedures));
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
  Context& ctx = session.context;
  const std::string& username = httpJsonMustGetString(*input, "username");
  const std::string& password = httpJsonMustGetString(*input, "password");
  const SignInThrottle::Ticket turn = co_await turnToCheckPassword(session);
  session.user = username;
  bool matches = false;
  try {
    matches = passwordMatches(ctx.accounts.get(ctx.database, username), password);
  } catch (const UserNotFoundError&) {
    // Answered by the error hook as a mismatch.
    signInFailed(session);
    throw;
  }
  if (!matches) {
    signInFailed(session);
    raiseHttpException(403, ErrorCode::InvalidPassword);
  }
  ctx.signIns.succeeded(session.request.hostname);
  recordAudit(session, kAuditSignIn, AuditOutcome::Success);
  JsonNodePtr payload = newJObject();
  payload->set("username", newJString(username));
  JsonNodePtr output = newJObject();
  output->set("auth", newJString(ctx.tokenKeys.issue(*payload, ctx.clock.now())));
  co_return answer(std::move(output));
}

Task<JsonNodePtr> password_update(Session& session, JsonNodePtr input) {
  Context& ctx = session.context;
  try {
    const JsonNode& arguments = *input->at("input");
    // Missing members fail as plain lookups first, whatever the type of the other one.
    const JsonNode& current = *arguments.at("currentPassword");
    const JsonNode& next = *arguments.at("newPassword");
    // A member that holds no string is refused: read as the empty string it would quietly set
    // an empty password.
    const std::string& currentPassword = httpJsonStringOf(current, "currentPassword");
    const std::string& newPassword = httpJsonStringOf(next, "newPassword");
    // The current password is checked as a sign-in's is: held alike, its failures counted alike.
    const SignInThrottle::Ticket turn = co_await turnToCheckPassword(session);
    try {
      updateAccountPassword(ctx.database.connection(), kAdminName, currentPassword, newPassword);
    } catch (const HashNotMatchError&) {
      ctx.signIns.failed(session.request.hostname, ctx.clock.now());
      raiseHttpException(400, ErrorCode::PasswordMismatch);
    }
    ctx.signIns.succeeded(session.request.hostname);
  } catch (const SignInDropped&) {
    // Not checked, so neither a failure nor a change.
    throw;
  } catch (...) {
    recordAudit(session, kAuditPasswordChange, AuditOutcome::Failure);
    throw;
  }
  // Whoever knew the old password is signed out; a script that changes the password goes on
  // with the token it changed it with.
  ctx.tokenKeys.endSessionsBut(input->at("auth")->getString(), ctx.clock.now());
  forgetInitialPassword(ctx);
  recordAudit(session, kAuditPasswordChange, AuditOutcome::Success);
  co_return answer(newJObject());
}

Task<JsonNodePtr> sshd_start(Session& session, JsonNodePtr) {
  const PendingAudit audit = beginAudit(session, kAuditSshStart);
  try {
    co_await start(std::string(kSshUnit));
    co_await enable(std::string(kSshUnit));
  } catch (...) {
    completeAudit(session, audit, AuditOutcome::Failure);
    throw;
  }
  completeAudit(session, audit, AuditOutcome::Success);
  co_return answer(newJObject());
}

Task<JsonNodePtr> sshd_stop(Session& session, JsonNodePtr) {
  const PendingAudit audit = beginAudit(session, kAuditSshStop);
  try {
    co_await stop(std::string(kSshUnit));
    co_await disable(std::string(kSshUnit));
  } catch (...) {
    completeAudit(session, audit, AuditOutcome::Failure);
    throw;
  }
  completeAudit(session, audit, AuditOutcome::Success);
  co_return answer(newJObject());
}

Task<JsonNodePtr> fowarderConfig_get(Session& session, JsonNodePtr) {
  co_return answer(co_await getForwarderConfig(session.context.forwarderConfigPath));
}

Task<JsonNodePtr> fowarderConfig_patch(Session& session, JsonNodePtr input) {
  const Context& ctx = session.context;
  std::optional<std::int64_t> version;
  std::optional<PendingAudit> audit;
  try {
    JsonNodePtr patch = input->at("input");
    const PatchTurn turn = co_await keepVersionForPatch(session);
    version = turn.version;
    audit = beginAudit(session, kAuditConfigPatch, version);
    co_await updateForwarderConfig(ctx.forwarderConfigPath, std::move(patch));
    // An empty name means the forwarder is not run as a unit: nothing to restart.
    if (!ctx.forwarderUnitServiceName.empty()) {
      try {
        co_await restart(ctx.forwarderUnitServiceName);
      } catch (const CommandTimedOut& e) {
        throw e.noting("the configuration file was written");
      }
    }
  } catch (...) {
    if (audit) {
      completeAudit(session, *audit, AuditOutcome::Failure, version);
    } else {
      recordAudit(session, kAuditConfigPatch, AuditOutcome::Failure, version);
    }
    throw;
  }
  completeAudit(session, *audit, AuditOutcome::Success, version);
  co_return answer(newJObject());
}

}  // namespace relaydash
