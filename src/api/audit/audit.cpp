#include "api/audit/audit.hpp"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "api/context.hpp"
#include "gateway/time_text.hpp"
#include "model/audit_log.hpp"
#include "transport/request.hpp"

namespace relaydash {
namespace {

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
                 std::optional<std::int64_t> version, std::string_view subject) {
  recordAuditAs(session.context, session.user, session.request.hostname, action, outcome, version,
                subject);
}

void recordAuditAs(Context& ctx, std::string_view user, std::string_view peer,
                   std::string_view action, AuditOutcome outcome,
                   std::optional<std::int64_t> version, std::string_view subject) {
  AuditRow row = rowOf(user, peer, action, outcomeText(outcome), version);
  row.subject = subject;
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

}  // namespace relaydash
