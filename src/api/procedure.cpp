#include "api/procedure.hpp"

#include <memory>
#include <utility>

#include "api/context.hpp"
#include "api/errors.hpp"
#include "security/sign_in_throttle.hpp"
#include "security/token_keys.hpp"
#include "security/token_seal.hpp"
#include "server/http_error.hpp"
#include "server/http_handler.hpp"
#include "server/http_json.hpp"
#include "server/request_origin.hpp"
#include "transport/request.hpp"

namespace relaydash {
namespace {

// The token check of a procedure that needs one: the user and the sign-in it names go to the
// session.
void checkToken(Session& session, const JsonNode& body) {
  Context& ctx = session.context;
  const std::string& token = httpJsonMustGetString(body, "auth");
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
}

// The row is copied into the call: nothing a call uses belongs to the table.
Task<JsonNodePtr> runProcedure(Procedure procedure, Session& session, JsonNodePtr body) {
  if (procedure.access == Access::SignedIn) checkToken(session, *body);
  CallAudit audit(session, procedure.auditAction, procedure.auditFrom);
  Call call{session, session.context, std::move(body), audit};
  JsonNodePtr output;
  try {
    output = co_await procedure.run(call);
  } catch (const SignInDropped&) {
    throw;
  } catch (...) {
    audit.end(AuditOutcome::Failure);
    if (procedure.errors == ErrorAnswers::Domain) raiseDomainAnswer(std::current_exception());
    throw;
  }
  audit.end(AuditOutcome::Success);
  JsonNodePtr answer = newJObject();
  answer->set("output", std::move(output));
  co_return answer;
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

}  // namespace

CallAudit::CallAudit(const Session& session, std::string_view action, AuditFrom from)
    : session_(session), action_(action) {
  if (from == AuditFrom::Whole) recorded_ = true;
  if (from == AuditFrom::Start) begin();
}

void CallAudit::attempt() {
  recorded_ = !action_.empty();
}

void CallAudit::begin(std::optional<std::int64_t> version) {
  if (version) version_ = version;
  if (!action_.empty()) begun_ = beginAudit(session_, action_, version_);
}

void CallAudit::name(std::string_view action) {
  action_ = action;
}

void CallAudit::setVersion(std::optional<std::int64_t> version) {
  version_ = version;
}

void CallAudit::about(std::string_view subject) {
  subject_ = subject;
}

void CallAudit::end(AuditOutcome outcome) {
  if (begun_) {
    completeAudit(session_, *begun_, outcome, version_);
  } else if (recorded_) {
    recordAudit(session_, action_, outcome, version_, subject_);
  }
  begun_.reset();
  recorded_ = false;
}

void mountProcedures(HttpServer& server, std::span<const Procedure> procedures) {
  const std::shared_ptr<JsonApiRouter> router = newJsonApiRouter();
  for (const Procedure& procedure : procedures) {
    router->mount(procedure.path, [procedure](Session& session, JsonNodePtr body) {
      return runProcedure(procedure, session, std::move(body));
    });
  }
  const HttpHandler handler = fromOwnPagesOnly(jsonApiHandler(router));
  mount(server, "rpc", handler);
  mount(server, "rpc/v1", handler);
}

}  // namespace relaydash
