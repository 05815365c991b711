#include "api/account/account.hpp"

#include <array>
#include <string>
#include <utility>

#include "api/account/initial_password.hpp"
#include "api/account/password_turn.hpp"
#include "api/context.hpp"
#include "model/account_model.hpp"
#include "server/http_error.hpp"
#include "server/http_json.hpp"
#include "transport/request.hpp"

namespace relaydash {
namespace {

Task<JsonNodePtr> login_password(Call& call) {
  Context& ctx = call.context;
  Session& session = call.session;
  const std::string& username = httpJsonMustGetString(*call.body, "username");
  const std::string& password = httpJsonMustGetString(*call.body, "password");
  const SignInThrottle::Ticket turn = co_await turnToCheckPassword(session);
  session.user = username;
  call.audit.attempt();
  bool matches = false;
  try {
    matches = passwordMatches(ctx.accounts.get(ctx.database, username), password);
  } catch (const UserNotFoundError&) {
    // Answered as a mismatch.
    ctx.signIns.failed(session.request.hostname, ctx.clock.now());
    throw;
  }
  if (!matches) {
    ctx.signIns.failed(session.request.hostname, ctx.clock.now());
    raiseHttpException(403, ErrorCode::InvalidPassword);
  }
  ctx.signIns.succeeded(session.request.hostname);
  JsonNodePtr payload = newJObject();
  payload->set("username", newJString(username));
  JsonNodePtr output = newJObject();
  output->set("auth", newJString(ctx.tokenKeys.issue(*payload, ctx.clock.now())));
  co_return output;
}

Task<JsonNodePtr> password_update(Call& call) {
  Context& ctx = call.context;
  Session& session = call.session;
  const JsonNode& arguments = *call.body->at("input");
  // Missing members fail as plain lookups first, whatever the type of the other one.
  const JsonNode& current = *arguments.at("currentPassword");
  const JsonNode& next = *arguments.at("newPassword");
  // A member that holds no string is refused: read as the empty string it would quietly set
  // an empty password.
  const std::string& currentPassword = httpJsonStringOf(current, "currentPassword");
  const std::string& newPassword = httpJsonStringOf(next, "newPassword");
  {
    // The current password is checked as a sign-in's is: held alike, its failures counted alike.
    const SignInThrottle::Ticket turn = co_await turnToCheckPassword(session);
    try {
      updateAccountPassword(ctx.database.connection(), kAdminName, currentPassword, newPassword);
    } catch (const HashNotMatchError&) {
      ctx.signIns.failed(session.request.hostname, ctx.clock.now());
      raiseHttpException(400, ErrorCode::PasswordMismatch);
    }
    ctx.signIns.succeeded(session.request.hostname);
  }
  // Whoever knew the old password is signed out; a script that changes the password goes on
  // with the token it changed it with.
  ctx.tokenKeys.endSessionsBut(call.body->at("auth")->getString(), ctx.clock.now());
  forgetInitialPassword(ctx);
  co_return newJObject();
}

constexpr std::array kProcedures{
    Procedure{"login/password", login_password, Access::Open, kAuditSignIn, AuditFrom::Attempt,
              ErrorAnswers::Generic},
    Procedure{"password/update", password_update, Access::SignedIn, kAuditPasswordChange,
              AuditFrom::Whole, ErrorAnswers::Generic},
};

}  // namespace

std::span<const Procedure> accountProcedures() {
  return kProcedures;
}

}  // namespace relaydash
