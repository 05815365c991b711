// The forwarder's configuration changed safely: forwarder-config/apply and /restore (checked,
// kept in the history, written, the forwarder restarted and watched, rolled back when it does
// not keep running), /upload (a whole file in pieces), /progress, and the history's /history,
// /version and the file's /text. forwarder-config/patch keeps its own ways, but waits while a
// change runs and keeps a version too.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "api/audit/audit.hpp"
#include "api/context.hpp"
#include "api/errors.hpp"
#include "api/forwarder_config/changes.hpp"
#include "api/forwarder_config/config_json.hpp"
#include "api/forwarder_config/forwarder_config.hpp"
#include "api/gateway/gateway_json.hpp"
#include "api/input.hpp"
#include "gateway/content_hash.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/forwarder_view.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"
#include "server/http_error.hpp"
#include "server/http_json.hpp"

namespace relaydash {
namespace {

constexpr std::string_view kApply = "forwarder-config/apply";
constexpr std::string_view kRestore = "forwarder-config/restore";

std::chrono::milliseconds settleOf(const Input& input) {
  static const std::string message =
      "Field settleSeconds must be a whole number from 0 to " + std::to_string(kMaxSettleSeconds);
  return std::chrono::seconds(
      input.whole("settleSeconds", {0, kMaxSettleSeconds, ErrorCode::InvalidLimit, message})
          .value_or(kDefaultSettleSeconds));
}

// Whether the watch judges the link too ("link", the default) or only the process ("process").
bool watchLinkOf(const Input& input) {
  const JsonNodePtr value = input.get("watch");
  if (!value) return true;
  if (!value->isString() || value->isRawNumber() ||
      (value->getString() != "link" && value->getString() != "process")) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field watch must be \"link\" or \"process\"");
  }
  return value->getString() == "link";
}

// The audit trail's action for a change, and the version its row names: a restore of a version
// names the version restored; an apply, and a whole file from the editor (which has no number of
// its own), the version kept before it.
std::string_view auditActionOf(const ChangeRequest& request) {
  if (request.author.procedure != kRestore) return kAuditConfigApply;
  return request.restores ? kAuditConfigRestore : kAuditConfigReplace;
}

std::optional<std::int64_t> auditVersionOf(const ChangeRequest& request, std::optional<int> kept) {
  if (request.author.procedure == kRestore && request.restores) return *request.restores;
  return kept ? std::optional<std::int64_t>(*kept) : std::nullopt;
}

// Every apply and restore ends here, whatever its outcome: the one place that learns what
// became of a change (the request, who made it, and how it ended) and turns it into the answer.
// The change's row was begun when it wrote the file, if it got that far.
JsonNodePtr finishChange(Call& call, const ChangeRequest& request, const ChangeOutcome& outcome) {
  Session& session = call.session;
  const std::optional<std::int64_t> version =
      outcome.version ? std::optional<std::int64_t>(*outcome.version) : std::nullopt;
  const bool applied = outcome.result == ChangeResult::Applied;
  call.audit.setVersion(auditVersionOf(request, outcome.version));
  if (outcome.result == ChangeResult::RolledBack ||
      outcome.result == ChangeResult::RollbackFailed) {
    // The version put back (or that could not be).
    recordAudit(
        session, kAuditConfigRollback,
        outcome.result == ChangeResult::RolledBack ? AuditOutcome::Success : AuditOutcome::Failure,
        version);
  }
  if (applied) {
    JsonNodePtr output = newJObject();
    output->set("version", newJIntOrNull(outcome.version));
    output->set("applied", newJBool(true));
    output->set("keptLayout", newJBool(outcome.keptLayout));
    output->set("restarted", newJBool(outcome.restarted));
    std::string notice;
    if (!outcome.keptLayout) {
      notice =
          "The file's layout could not be kept, so it was written anew (indented by 2, "
          "without comments); the history holds it as it was.";
    }
    for (const std::string& more : outcome.notices)
      notice += (notice.empty() ? "" : " ") + more;
    if (!notice.empty()) output->set("notice", newJString(std::move(notice)));
    if (!outcome.link.empty()) output->set("link", newJString(outcome.link));
    return output;
  }
  JsonNodePtr details = newJObject();
  switch (outcome.result) {
    case ChangeResult::Invalid:
    case ChangeResult::OutOfBand:
      details->set("problems", configProblemsJson(outcome.problems));
      break;
    case ChangeResult::Unreadable:
      details->set("refusal", outcome.refusal ? textNoteJson(*outcome.refusal) : newJNull());
      break;
    case ChangeResult::Misread: {
      details->set("quirks", textNotesJson(outcome.quirks));
      JsonNodePtr members = newJArray();
      for (const std::string& member : outcome.members)
        members->add(newJString(member));
      details->set("members", std::move(members));
      break;
    }
    case ChangeResult::Overridden: {
      JsonNodePtr overrides = newJArray();
      for (const ConfigOverride& o : outcome.overrides) {
        JsonNodePtr item = newJObject();
        item->set("path", newJString(o.path));
        item->set("file", newJString(o.file));
        overrides->add(std::move(item));
      }
      details->set("overrides", std::move(overrides));
      break;
    }
    case ChangeResult::Stale:
      details->set("hash", newJString(outcome.currentHash));
      break;
    case ChangeResult::RolledBack:
    case ChangeResult::RollbackFailed:
      details = changeOutcomeJson(outcome);
      break;
    default:
      break;
  }
  const RefusalAnswer refusal = refusalAnswer(outcome.result);
  HttpException error = newHttpException(refusal.status, refusal.code, outcome.message);
  error.setDetails(std::move(details));
  throw error;
}

Task<JsonNodePtr> runChange(Call& call, ChangeRequest request) {
  call.audit.name(auditActionOf(request));
  call.audit.attempt();
  request.beforeWrite = [&call, &request](int kept) {
    call.audit.begin(auditVersionOf(request, kept));
  };
  ChangeOutcome outcome = co_await configChanges(call.context).change(request);
  co_return finishChange(call, request, outcome);
}

}  // namespace

Task<JsonNodePtr> forwarderConfig_apply(Call& call) {
  const Input input(*call.body, {"patch", "plan", "settleSeconds", "base", "watch", "outOfBand"});
  ChangeRequest request;
  request.author = authorOf(call.session, kApply);
  if (input.has("plan")) {
    if (input.has("patch"))
      raiseHttpException(400, ErrorCode::Invalid, "Give patch or plan, not both");
    request.plan = &planOf(input);
  } else {
    request.patch = input.required("patch");
  }
  request.keepInBand = !input.flag("outOfBand");
  request.settle = settleOf(input);
  request.base = input.text("base");
  request.watchLink = watchLinkOf(input);
  co_return co_await runChange(call, std::move(request));
}

Task<JsonNodePtr> forwarderConfig_restore(Call& call) {
  const Input input(*call.body,
                    {"version", "text", "upload", "settleSeconds", "base", "watch", "outOfBand"});
  const int given = static_cast<int>(input.has("version")) + static_cast<int>(input.has("text")) +
                    static_cast<int>(input.has("upload"));
  if (given == 0)
    raiseHttpException(400, ErrorCode::MissingField, "Missing field version, text or upload");
  if (given > 1) {
    raiseHttpException(400, ErrorCode::Invalid, "Give only one of version, text and upload");
  }
  ConfigChanges& changes = configChanges(call.context);
  ChangeRequest request;
  request.author = authorOf(call.session, kRestore);
  request.settle = settleOf(input);
  request.base = input.text("base");
  request.watchLink = watchLinkOf(input);
  // A file from the editor or an upload keeps to its band; a version put back is known.
  const bool outOfBand = input.flag("outOfBand");
  request.keepInBand = !input.has("version") && !outOfBand;
  if (input.has("version")) {
    const int number = versionOf(input);
    std::optional<StoredVersion> stored = changes.history().read(number);
    if (!stored) raiseHttpException(404, ErrorCode::UnknownId);
    request.text = std::move(stored->bytes);
    request.fromHistory = true;
    request.restores = number;
  } else if (input.has("text")) {
    request.text = input.requiredText("text");
  } else {
    // Taken only once nothing else can refuse the request: a refused upload stays to be retried.
    const std::string id = input.requiredText("upload");
    // Busy: the change is refused without its text, which stays staged for another try.
    if (changes.busy()) co_return co_await runChange(call, std::move(request));
    std::optional<std::string> text = changes.uploads().take(call.session.signIn, id);
    if (!text) raiseHttpException(404, ErrorCode::UnknownId);
    request.text = std::move(*text);
  }
  co_return co_await runChange(call, std::move(request));
}

Task<JsonNodePtr> forwarderConfig_upload(Call& call) {
  const Input input(*call.body, {"upload", "offset", "text"});
  const std::int64_t offset = input.requiredWhole(
      "offset", {0, std::numeric_limits<std::int64_t>::max(), ErrorCode::InvalidFormat,
                 "Field offset is not a byte offset"});
  const std::string piece = input.requiredText("text");
  const StagedTexts::Appended appended =
      configChanges(call.context)
          .uploads()
          .append(call.session.signIn, input.text("upload").value_or(""),
                  static_cast<std::size_t>(offset), piece);
  JsonNodePtr output = newJObject();
  output->set("upload", newJString(appended.id));
  output->set("size", newJInt(static_cast<std::int64_t>(appended.size)));
  co_return output;
}

Task<JsonNodePtr> forwarderConfig_progress(Call& call) {
  co_return changeProgressJson(configChanges(call.context).progress());
}

}  // namespace relaydash
