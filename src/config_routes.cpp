// The forwarder's configuration changed safely: forwarder-config/apply and /restore (checked,
// kept in the history, written, the forwarder restarted and watched, rolled back when it does
// not keep running), /upload (a whole file in pieces), /progress, and the history's /history,
// /version and the file's /text. forwarder-config/patch keeps its own ways, but waits while a
// change runs and keeps a version too.
#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "audit.hpp"
#include "config_json.hpp"
#include "ctx.hpp"
#include "gateway/content_hash.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/forwarder_view.hpp"
#include "gateway/text_file.hpp"
#include "gateway_json.hpp"
#include "json/parser.hpp"
#include "print_line.hpp"
#include "route.hpp"
#include "runtime/os_error.hpp"
#include "server/http_error.hpp"
#include "server/http_json.hpp"

namespace relaydash {
namespace {

constexpr int kDefaultSettleSeconds = 15;
constexpr int kMaxSettleSeconds = 120;
constexpr std::string_view kApply = "forwarder-config/apply";
constexpr std::string_view kRestore = "forwarder-config/restore";

constexpr std::array<std::string_view, 4> kApplyMembers{"patch", "settleSeconds", "base", "watch"};
constexpr std::array<std::string_view, 6> kRestoreMembers{"version",       "text", "upload",
                                                          "settleSeconds", "base", "watch"};
constexpr std::array<std::string_view, 3> kUploadMembers{"upload", "offset", "text"};
constexpr std::array<std::string_view, 1> kVersionMembers{"version"};

// The "input" object of a request (an empty one when there is none), with no member but those
// named.
const JsonNode& inputOf(const JsonNode& body, std::span<const std::string_view> members) {
  static const JsonNodePtr none = newJObject();
  const JsonNodePtr& input = body.object().find("input") ? body.at("input") : none;
  if (!input->isObject())
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field input is not an object");
  for (const auto& member : input->object()) {
    if (std::find(members.begin(), members.end(), member.key) == members.end())
      raiseHttpException(400, ErrorCode::UnknownField, "Unknown field " + member.key);
  }
  return *input;
}

bool isText(const JsonNodePtr& value) {
  return value && value->isString() && !value->isRawNumber();
}

std::chrono::milliseconds settleOf(const JsonNode& input) {
  const JsonNodePtr value = input.get("settleSeconds");
  if (!value) return std::chrono::seconds(kDefaultSettleSeconds);
  if (!value->isInt() || value->getInt() < 0 || value->getInt() > kMaxSettleSeconds) {
    raiseHttpException(400, ErrorCode::InvalidLimit,
                       "Field settleSeconds must be a whole number from 0 to " +
                           std::to_string(kMaxSettleSeconds));
  }
  return std::chrono::seconds(value->getInt());
}

// Whether the watch judges the link too ("link", the default) or only the process ("process").
bool watchLinkOf(const JsonNode& input) {
  const JsonNodePtr value = input.get("watch");
  if (!value || value->isNull()) return true;
  if (!isText(value) || (value->getString() != "link" && value->getString() != "process")) {
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field watch must be \"link\" or \"process\"");
  }
  return value->getString() == "link";
}

// The contentHash of the file a change was made against, when the caller gives one.
std::optional<std::string> baseOf(const JsonNode& input) {
  const JsonNodePtr value = input.get("base");
  if (!value || value->isNull()) return std::nullopt;
  if (!isText(value))
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field base is not a string");
  return value->getString();
}

int versionOf(const JsonNode& input) {
  const JsonNodePtr& value = httpJsonMustGet(input, "version");
  if (!value->isInt() || value->getInt() < 1 || value->getInt() > 1'000'000'000) {
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field version is not a version number");
  }
  return static_cast<int>(value->getInt());
}

ChangeAuthor authorOf(const Session& session, std::string_view procedure) {
  return {session.user, std::string(session.request.hostname), std::string(procedure)};
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
JsonNodePtr finishChange(Session& session, const ChangeRequest& request,
                         const ChangeOutcome& outcome, const std::optional<PendingAudit>& begun) {
  const std::optional<std::int64_t> version =
      outcome.version ? std::optional<std::int64_t>(*outcome.version) : std::nullopt;
  const bool applied = outcome.result == ChangeResult::Applied;
  const AuditOutcome audited = applied ? AuditOutcome::Success : AuditOutcome::Failure;
  if (begun) {
    completeAudit(session, *begun, audited, auditVersionOf(request, outcome.version));
  } else {
    recordAudit(session, auditActionOf(request), audited, auditVersionOf(request, outcome.version));
  }
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
    return answer(std::move(output));
  }
  int status = 500;
  ErrorCode code = ErrorCode::InternalError;
  JsonNodePtr details = newJObject();
  switch (outcome.result) {
    case ChangeResult::Busy:
      status = 409;
      code = ErrorCode::SessionAlreadyEstablished;
      break;
    case ChangeResult::Invalid:
      status = 400;
      code = ErrorCode::Invalid;
      details->set("problems", configProblemsJson(outcome.problems));
      break;
    case ChangeResult::Unparsable:
      status = 409;
      code = ErrorCode::InvalidJsonFormat;
      break;
    case ChangeResult::Changed:
      status = 409;
      code = ErrorCode::Mismatch;
      break;
    case ChangeResult::Unreadable:
      status = 400;
      code = ErrorCode::UnreadableByForwarder;
      details->set("refusal", outcome.refusal ? textNoteJson(*outcome.refusal) : newJNull());
      break;
    case ChangeResult::Misread: {
      status = 400;
      code = ErrorCode::MisreadByForwarder;
      details->set("quirks", textNotesJson(outcome.quirks));
      JsonNodePtr members = newJArray();
      for (const std::string& member : outcome.members)
        members->add(newJString(member));
      details->set("members", std::move(members));
      break;
    }
    case ChangeResult::Overridden: {
      status = 400;
      code = ErrorCode::SetInSideFile;
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
      status = 409;
      code = ErrorCode::StaleBase;
      details->set("hash", newJString(outcome.currentHash));
      break;
    case ChangeResult::RolledBack:
    case ChangeResult::RollbackFailed: {
      const bool back = outcome.result == ChangeResult::RolledBack;
      status = back ? 422 : 500;
      code = back ? ErrorCode::Invalid : ErrorCode::InternalError;
      details = changeOutcomeJson(outcome);
      break;
    }
    case ChangeResult::Applied:
    case ChangeResult::Failed:
      break;
  }
  HttpException error = newHttpException(status, code, outcome.message);
  error.setDetails(std::move(details));
  throw error;
}

Task<JsonNodePtr> runChange(Session& session, ChangeRequest request) {
  std::optional<PendingAudit> begun;
  request.beforeWrite = [&session, &begun, &request](int kept) {
    begun = beginAudit(session, auditActionOf(request), auditVersionOf(request, kept));
  };
  ChangeOutcome outcome = co_await configChanges(session.context).change(request);
  co_return finishChange(session, request, outcome, begun);
}

}  // namespace

ConfigChanges& configChanges(Context& ctx) {
  if (!ctx.configChanges) {
    // Beside the account database, which is where relaydash keeps what it owns.
    const std::size_t slash = ctx.dataPath.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : ctx.dataPath.substr(0, slash);
    if (folder.back() != '/') folder += '/';
    folder += "history";
    ctx.configChanges = std::make_shared<ConfigChanges>(ChangeSettings{
        .configPath = ctx.forwarderConfigPath,
        .unit = ctx.forwarderUnitServiceName,
        .historyDirectory = std::move(folder),
    });
  }
  return *ctx.configChanges;
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

Task<JsonNodePtr> forwarderConfig_apply(Session& session, JsonNodePtr body) {
  const JsonNode& input = inputOf(*body, kApplyMembers);
  ChangeRequest request;
  request.author = authorOf(session, kApply);
  request.patch = httpJsonMustGet(input, "patch");
  request.settle = settleOf(input);
  request.base = baseOf(input);
  request.watchLink = watchLinkOf(input);
  co_return co_await runChange(session, std::move(request));
}

Task<JsonNodePtr> forwarderConfig_restore(Session& session, JsonNodePtr body) {
  const JsonNode& input = inputOf(*body, kRestoreMembers);
  const int given = static_cast<int>(input.hasKey("version")) +
                    static_cast<int>(input.hasKey("text")) +
                    static_cast<int>(input.hasKey("upload"));
  if (given == 0)
    raiseHttpException(400, ErrorCode::MissingField, "Missing field version, text or upload");
  if (given > 1) {
    raiseHttpException(400, ErrorCode::Invalid, "Give only one of version, text and upload");
  }
  ConfigChanges& changes = configChanges(session.context);
  ChangeRequest request;
  request.author = authorOf(session, kRestore);
  request.settle = settleOf(input);
  request.base = baseOf(input);
  request.watchLink = watchLinkOf(input);
  if (input.hasKey("version")) {
    const int number = versionOf(input);
    std::optional<StoredVersion> stored = changes.history().read(number);
    if (!stored) raiseHttpException(404, ErrorCode::UnknownId);
    request.text = std::move(stored->bytes);
    request.fromHistory = true;
    request.restores = number;
  } else if (input.hasKey("text")) {
    request.text = httpJsonMustGetString(input, "text");
  } else {
    // Taken only once nothing else can refuse the request: a refused upload stays to be retried.
    const std::string& id = httpJsonMustGetString(input, "upload");
    // Busy: the change is refused without its text, which stays staged for another try.
    if (changes.busy()) co_return co_await runChange(session, std::move(request));
    std::optional<std::string> text = changes.uploads().take(session.signIn, id);
    if (!text) raiseHttpException(404, ErrorCode::UnknownId);
    request.text = std::move(*text);
  }
  co_return co_await runChange(session, std::move(request));
}

Task<JsonNodePtr> forwarderConfig_upload(Session& session, JsonNodePtr body) {
  const JsonNode& input = inputOf(*body, kUploadMembers);
  std::string id;
  if (const JsonNodePtr upload = input.get("upload"); upload && !upload->isNull()) {
    if (!isText(upload))
      raiseHttpException(400, ErrorCode::InvalidFormat, "Field upload is not a string");
    id = upload->getString();
  }
  const JsonNodePtr& offset = httpJsonMustGet(input, "offset");
  if (!offset->isInt() || offset->getInt() < 0) {
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field offset is not a byte offset");
  }
  const std::string& piece = httpJsonMustGetString(input, "text");
  StagedTexts::Appended appended;
  try {
    appended = configChanges(session.context)
                   .uploads()
                   .append(session.signIn, id, static_cast<std::size_t>(offset->getInt()), piece);
  } catch (const StagingError& e) {
    switch (e.kind()) {
      case StagingError::Kind::UnknownId:
        raiseHttpException(404, ErrorCode::UnknownId);
      case StagingError::Kind::WrongOffset:
        raiseHttpException(400, ErrorCode::Invalid, std::string("Wrong offset: ") + e.what());
      case StagingError::Kind::TooLarge:
        raiseHttpException(400, ErrorCode::ExceedLimit, std::string("Too large: ") + e.what());
    }
  }
  JsonNodePtr output = newJObject();
  output->set("upload", newJString(appended.id));
  output->set("size", newJInt(static_cast<std::int64_t>(appended.size)));
  co_return answer(std::move(output));
}

Task<JsonNodePtr> forwarderConfig_progress(Session& session, JsonNodePtr) {
  co_return answer(changeProgressJson(configChanges(session.context).progress()));
}

Task<JsonNodePtr> forwarderConfig_text(Session& session, JsonNodePtr) {
  std::string text;
  try {
    text = readTextFile(session.context.forwarderConfigPath);
  } catch (const OSError& e) {
    raiseHttpException(500, ErrorCode::InternalError,
                       std::string("The configuration file cannot be read: ") + e.what());
  }
  JsonNodePtr error = newJNull();
  try {
    parseJson(text);
  } catch (const JsonParsingError& e) {
    error = newJObject();
    error->set("message", newJString(e.what()));
    error->set("line", newJInt(static_cast<std::int64_t>(e.line())));
    error->set("column", newJInt(static_cast<std::int64_t>(e.column())));
  }
  JsonNodePtr output = newJObject();
  output->set("size", newJInt(static_cast<std::int64_t>(text.size())));
  output->set("parses", newJBool(error->isNull()));
  output->set("error", std::move(error));
  const ForwarderView view = viewAsForwarder(session.context.forwarderConfigPath, text);
  std::string hash = contentHash(text);
  output->set("text", newJString(std::move(text)));
  output->set("hash", newJString(std::move(hash)));
  output->set("forwarder", forwarderReadingJson(view));
  output->set("sideFiles", sideFilesJson(view.side));
  co_return answer(std::move(output));
}

Task<JsonNodePtr> forwarderConfig_history(Session& session, JsonNodePtr) {
  std::vector<ConfigVersion> versions;
  try {
    versions = configChanges(session.context).history().list();
  } catch (const OSError& e) {
    raiseHttpException(500, ErrorCode::InternalError,
                       std::string("The history cannot be read: ") + e.what());
  }
  // The file on the gateway now, as one of the versions.
  std::optional<int> current;
  try {
    current = configChanges(session.context)
                  .history()
                  .newestHolding(readTextFile(session.context.forwarderConfigPath));
  } catch (const OSError&) {
    // A file that cannot be read is none of them: "current" is null, as the page shows it.
  }
  JsonNodePtr list = newJArray();
  for (const ConfigVersion& v : versions)
    list->add(configVersionJson(v));
  JsonNodePtr output = newJObject();
  output->set("versions", std::move(list));
  output->set("kept", newJInt(static_cast<std::int64_t>(ConfigHistory::kKept)));
  output->set("current", newJIntOrNull(current));
  output->set("lastGood", newJIntOrNull(lastGoodOf(versions)));
  co_return answer(std::move(output));
}

Task<JsonNodePtr> forwarderConfig_version(Session& session, JsonNodePtr body) {
  const JsonNode& input = inputOf(*body, kVersionMembers);
  std::optional<StoredVersion> stored =
      configChanges(session.context).history().read(versionOf(input));
  if (!stored) raiseHttpException(404, ErrorCode::UnknownId);
  JsonNodePtr output = configVersionJson(stored->version);
  output->set("text", newJString(std::move(stored->bytes)));
  co_return answer(std::move(output));
}

}  // namespace relaydash
