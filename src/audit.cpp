#include "audit.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "ctx.hpp"
#include "gateway/time_text.hpp"
#include "model/audit_log.hpp"
#include "route.hpp"
#include "server/http_error.hpp"
#include "transport/request.hpp"

namespace relaydash {
namespace {

constexpr std::array<std::string_view, 2> kListMembers{"limit", "before"};

struct ListRequest {
  int limit = kDefaultAuditPage;
  std::optional<std::int64_t> before;
};

ListRequest readListRequest(const JsonNode& body) {
  ListRequest request;
  const JsonNodePtr input = body.get("input");
  if (!input || input->isNull()) return request;
  if (!input->isObject()) {
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field input is not an object");
  }
  for (const auto& member : input->object()) {
    if (std::find(kListMembers.begin(), kListMembers.end(), member.key) == kListMembers.end()) {
      raiseHttpException(400, ErrorCode::UnknownField, "Unknown field " + member.key);
    }
  }
  if (const JsonNodePtr limit = input->get("limit")) {
    if (!limit->isInt() || limit->getInt() < 1 || limit->getInt() > kMaxAuditPage) {
      raiseHttpException(
          400, ErrorCode::InvalidLimit,
          "Field limit must be a whole number from 1 to " + std::to_string(kMaxAuditPage));
    }
    request.limit = static_cast<int>(limit->getInt());
  }
  if (const JsonNodePtr before = input->get("before"); before && !before->isNull()) {
    if (!before->isInt() || before->getInt() < 1) {
      raiseHttpException(400, ErrorCode::InvalidId,
                         "Field before must be the id of an audit entry (a whole number from 1)");
    }
    request.before = before->getInt();
  }
  return request;
}

JsonNodePtr auditRowJson(const AuditRow& row) {
  JsonNodePtr o = newJObject();
  o->set("id", newJInt(row.id));
  o->set("time", newJString(row.time));
  o->set("peer", newJString(row.peer));
  o->set("user", newJString(row.user));
  o->set("action", newJString(row.action));
  o->set("outcome", newJString(row.outcome));
  o->set("version", newJIntOrNull(row.version));
  o->set("count", newJInt(row.count));
  o->set("lastTime", newJString(row.lastTime));
  return o;
}

std::string_view outcomeText(AuditOutcome outcome) {
  return outcome == AuditOutcome::Success ? "success" : "failure";
}

AuditRow rowOf(std::string_view user, std::string_view peer, std::string_view action,
               std::string_view outcome, std::optional<std::int64_t> version);

std::string nowUtc() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return formatIsoUtc(std::chrono::duration_cast<std::chrono::microseconds>(now).count(), true);
}

AuditRow rowOf(std::string_view user, std::string_view peer, std::string_view action,
               std::string_view outcome, std::optional<std::int64_t> version) {
  AuditRow row;
  row.time = nowUtc();
  row.peer = peer;
  row.user = user;
  row.action = action;
  row.outcome = outcome;
  row.version = version;
  row.lane = action == kAuditSignIn ? AuditLane::SignIns : AuditLane::Changes;
  return row;
}

}  // namespace

void recordAudit(const Session& session, std::string_view action, AuditOutcome outcome,
                 std::optional<std::int64_t> version) {
  recordAuditAs(session.context, session.user, session.request.hostname, action, outcome, version);
}

void recordAuditAs(Context& ctx, std::string_view user, std::string_view peer,
                   std::string_view action, AuditOutcome outcome,
                   std::optional<std::int64_t> version) {
  AuditRow row = rowOf(user, peer, action, outcomeText(outcome), version);
  if (outcome == AuditOutcome::Failure &&
      (action == kAuditSignIn || action == kAuditPasswordChange)) {
    // The same ten minutes of the clock: "2026-12-09T01:0".
    row.repeats = row.time.substr(0, 15);
  }
  if (row.lane == AuditLane::SignIns) {
    ctx.audit.record(std::move(row));
  } else {
    ctx.audit.recordNow(std::move(row));
  }
}

PendingAudit beginAudit(const Session& session, std::string_view action,
                        std::optional<std::int64_t> version) {
  return {session.context.audit.begin(
              rowOf(session.user, session.request.hostname, action, kAuditPending, version)),
          std::string(action)};
}

void completeAudit(const Session& session, const PendingAudit& begun, AuditOutcome outcome,
                   std::optional<std::int64_t> version) {
  if (begun.id) {
    session.context.audit.complete(*begun.id, outcomeText(outcome), version);
  } else {
    recordAudit(session, begun.action, outcome, version);
  }
}

Task<JsonNodePtr> audit_list(Session& session, JsonNodePtr body) {
  const ListRequest request = readListRequest(*body);
  // The rows of actions just taken are read too.
  session.context.audit.flush();
  // One row more than asked tells whether older ones follow.
  std::vector<AuditRow> rows =
      listAuditRows(session.context.database.connection(), request.limit + 1, request.before);
  const bool more = rows.size() > static_cast<std::size_t>(request.limit);
  if (more) rows.pop_back();

  JsonNodePtr entries = newJArray();
  for (const AuditRow& row : rows)
    entries->add(auditRowJson(row));
  JsonNodePtr output = newJObject();
  output->set("entries", std::move(entries));
  output->set("more", newJBool(more));
  co_return answer(std::move(output));
}

}  // namespace relaydash
