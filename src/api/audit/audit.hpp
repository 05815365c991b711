#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.hpp"
#include "runtime/task.hpp"
#include "server/http_session.hpp"

namespace relaydash {

// The audit trail as the API keeps and shows it: every sign-in, password change, SSH switch and
// change of the forwarder's configuration, with who did it and from where.

enum class AuditOutcome { Success, Failure };
// The outcome of a change's row while the change is under way, and of one that a stop of the
// server cut short (set at the next start).
inline constexpr std::string_view kAuditPending = "pending";
inline constexpr std::string_view kAuditInterrupted = "interrupted";

// The actions, as the trail names them.
inline constexpr std::string_view kAuditSignIn = "sign-in";
inline constexpr std::string_view kAuditPasswordChange = "password-change";
inline constexpr std::string_view kAuditSshStart = "ssh-start";
inline constexpr std::string_view kAuditSshStop = "ssh-stop";
inline constexpr std::string_view kAuditConfigPatch = "config-patch";
inline constexpr std::string_view kAuditConfigApply = "config-apply";
inline constexpr std::string_view kAuditConfigRestore = "config-restore";
inline constexpr std::string_view kAuditConfigRollback = "config-rollback";
// A whole file put in place (forwarder-config/restore with "text" or "upload").
inline constexpr std::string_view kAuditConfigReplace = "config-replace";
// A change that a stop of the server interrupted, finished when it started again.
inline constexpr std::string_view kAuditConfigRecover = "config-recover";
// A key for /metrics made or revoked; the row's subject is the key's name.
inline constexpr std::string_view kAuditMetricsKeyCreate = "metrics-key-create";
inline constexpr std::string_view kAuditMetricsKeyRevoke = "metrics-key-revoke";

// Records one row for the request in session: the time now (UTC), the request's peer address,
// session.user, the action, its outcome, for a configuration change the history version it
// made or went back to, and what the action was done to (subject, empty for nothing). A sign-in's
// row reaches the database within about a second (AuditTrail), any other at once. Failed sign-ins
// and password changes of one peer and user within the same ten minutes of the clock are one row
// that counts them. A database failure is printed on standard output and not raised: the action has
// happened, and its answer stands.
void recordAudit(const Session& session, std::string_view action, AuditOutcome outcome,
                 std::optional<std::int64_t> version = std::nullopt, std::string_view subject = {});

// The same for an action no request asked for (the server's own, at start-up say): user and
// peer as given, peer empty when there is none.
void recordAuditAs(Context& ctx, std::string_view user, std::string_view peer,
                   std::string_view action, AuditOutcome outcome,
                   std::optional<std::int64_t> version = std::nullopt,
                   std::string_view subject = {});

// A change's row, written with the outcome "pending" before the change takes effect, and
// completed once it has ended: a stop of the server in between leaves the row.
struct PendingAudit {
  std::optional<std::int64_t> id;  // none when the row could not be written
  std::string action;
};
PendingAudit beginAudit(const Session& session, std::string_view action,
                        std::optional<std::int64_t> version = std::nullopt);
// Sets the row's outcome and version (or, when it could not be written, records it whole now).
void completeAudit(const Session& session, const PendingAudit& begun, AuditOutcome outcome,
                   std::optional<std::int64_t> version = std::nullopt);

}  // namespace relaydash
