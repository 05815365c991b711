#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "api/audit/audit.hpp"
#include "json/value.hpp"
#include "runtime/task.hpp"
#include "server/http_server.hpp"
#include "server/http_session.hpp"

namespace relaydash {

// The management API as one table: a row per procedure names its path, who may call it, what
// the audit trail records of a call and how its failures answer. Each domain (api/account,
// api/ssh, api/gateway, api/forwarder_config, api/audit, api/metrics_keys) hands over its rows;
// mounting them is all start-up does for the API.

// Who may call a procedure: anyone (the sign-in alone), or a request whose "auth" member holds
// a token that opens with the context's key and names a user.
enum class Access { Open, SignedIn };

// How a call is recorded in the audit trail:
//   None     not at all;
//   Start    a row written "pending" as the call starts, completed when it ends;
//   Whole    one row when the call ends, whatever made it fail;
//   Attempt  one row when the call ends, once the procedure has said that the call is an
//            attempt of the action (CallAudit::attempt or begin): a request refused before
//            that is not recorded.
// A call that ends by returning is a success, one that ends by raising a failure; a sign-in
// attempt dropped unchecked (SignInDropped) is no attempt and never recorded.
enum class AuditFrom { None, Start, Whole, Attempt };

// How failures answer: Generic as the API's first procedures always have (an HttpException as
// itself, anything else 500 with code 10000), Domain through the domains' errors
// (api/errors.hpp).
enum class ErrorAnswers { Generic, Domain };

// One call's row in the audit trail, kept by the table.
class CallAudit {
 public:
  CallAudit(const Session& session, std::string_view action, AuditFrom from);

  // From now on the call is recorded.
  void attempt();
  // The row is written now with the outcome "pending" (before the action takes effect), so a
  // stop of the server in between leaves it.
  void begin(std::optional<std::int64_t> version = std::nullopt);
  // The action and the version the row names, when the call tells them only on its way.
  void name(std::string_view action);
  void setVersion(std::optional<std::int64_t> version);
  // What the action is done to, for the row's subject (a metrics key's name).
  void about(std::string_view subject);

  // Called by the table when the call has ended.
  void end(AuditOutcome outcome);

 private:
  const Session& session_;
  std::string action_;
  bool recorded_ = false;
  std::optional<PendingAudit> begun_;
  std::optional<std::int64_t> version_;
  std::string subject_;
};

// What a procedure is called with.
struct Call {
  Session& session;
  Context& context;
  JsonNodePtr body;
  CallAudit& audit;
};

// A procedure answers its output; the table sends {"output": output}.
using ProcedureRun = Task<JsonNodePtr> (*)(Call& call);

struct Procedure {
  std::string_view path;
  ProcedureRun run;
  Access access = Access::SignedIn;
  std::string_view auditAction = {};
  AuditFrom auditFrom = AuditFrom::None;
  ErrorAnswers errors = ErrorAnswers::Domain;
};

// Mounts every procedure of the domains on a JSON API router, and that router's handler on the
// server under "rpc" and "rpc/v1". A request other than the preflight is answered only when
// checkRequestOrigin lets it through with the context's allowed host names.
void mountProcedures(HttpServer& server, std::span<const Procedure> procedures);

}  // namespace relaydash
