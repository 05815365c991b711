#include "api/forwarder_config/changes.hpp"

#include <string>

#include "api/audit/audit.hpp"
#include "api/context.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/text_file.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"
#include "transport/request.hpp"

namespace relaydash {

ConfigChanges& configChanges(Context& ctx) {
  return *ctx.configChanges;
}

ChangeAuthor authorOf(const Session& session, std::string_view procedure) {
  return {session.user, std::string(session.request.hostname), std::string(procedure)};
}

Task<PatchTurn> keepVersionForPatch(Session& session) {
  ConfigChanges& changes = configChanges(session.context);
  PatchTurn kept{co_await changes.waitTurn(), std::nullopt};
  // A file that cannot be read or parsed is not written by the patch either: nothing to keep.
  std::string text;
  try {
    text = readTextFile(changes.settings().configPath);
    readConfigDocument(text);
  } catch (const std::exception&) {
    co_return kept;
  }
  try {
    VersionFacts facts;
    facts.kind = "before";
    facts.ranSince = fileWrittenAt(changes.settings().configPath);
    kept.version =
        changes.history().save(text, authorOf(session, "forwarder-config/patch"), facts).number;
  } catch (const OSError& e) {
    printLine(std::string("the configuration could not be kept in the history before a patch: ") +
              e.what());
  }
  co_return kept;
}

Task<void> finishInterruptedChange(Context& ctx) {
  const std::optional<InterruptedChange> found = co_await configChanges(ctx).finishInterrupted();
  if (!found) co_return;
  const bool kept = found->state == InterruptedChange::State::Kept;
  const bool back = found->state == InterruptedChange::State::RolledBack;
  // The version the change started from; a rollback went back to it.
  recordAuditAs(ctx, "relaydash", "", kAuditConfigRecover,
                kept || back ? AuditOutcome::Success : AuditOutcome::Failure,
                found->record.version);
  if (back)
    recordAuditAs(ctx, "relaydash", "", kAuditConfigRollback, AuditOutcome::Success,
                  found->record.version);
}

}  // namespace relaydash
