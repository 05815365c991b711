#include "gateway/config_change.hpp"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "gateway/atomic_file.hpp"
#include "gateway/band_check.hpp"
#include "gateway/change_watch.hpp"
#include "gateway/command.hpp"
#include "gateway/config_text_edit.hpp"
#include "gateway/content_hash.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/plan_layout.hpp"
#include "gateway/plan_recognition.hpp"
#include "gateway/text_file.hpp"
#include "gateway/time_text.hpp"
#include "gateway/unit_status.hpp"
#include "gateway/unit_watch.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

using Clock = EventLoop::Clock;

// The lines of the forwarder's journal an operator sees with a rollback.
constexpr int kJournalLines = 20;
// A patch waiting for its turn looks this often.
constexpr std::chrono::milliseconds kTurnPoll{100};

std::int64_t nowUtc() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// "The change was…" → "the change was…", to go on a sentence.
std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

// A step that ends the change early, with how it ended.
struct Stop {
  ChangeOutcome outcome;
};

[[noreturn]] void stop(ChangeResult result, std::string message) {
  ChangeOutcome outcome;
  outcome.result = result;
  outcome.message = std::move(message);
  throw Stop{std::move(outcome)};
}

ProcessLimits restartLimits(const ChangeSettings& settings) {
  ProcessLimits limits;
  limits.timeout = settings.restartTimeout;
  return limits;
}

// Runs `systemctl restart`; answers why it failed, or an empty text. When relaydash is out of
// descriptors systemctl is not run at all, which says nothing about the change: it is tried
// again a few times, a second apart, before the change is given up.
Task<std::string> restartUnit(const ChangeSettings& settings) {
  constexpr int kTries = 5;
  for (int tried = 1;; ++tried) {
    std::vector<std::string> argv{"systemctl", "restart"};
    argv.push_back(settings.unit);
    try {
      co_await runTool(std::move(argv), restartLimits(settings));
      co_return std::string();
    } catch (const CommandError& e) {
      const int error = e.result().startError;
      if ((error != EMFILE && error != ENFILE) || tried == kTries) co_return std::string(e.what());
    }
    co_await SleepFor(std::chrono::seconds(1));
  }
}

// What the forwarder wrote since it was restarted (and a little before), newest last. A journal
// that cannot be read gives no lines: the rollback matters more than its explanation.
Task<std::vector<JournalEntry>> journalSince(std::string unit, Clock::time_point since) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since);
  JournalQuery query;
  query.unit = std::move(unit);
  query.lines = kJournalLines;
  query.since = "-" + std::to_string(seconds.count() + 2) + "s";
  try {
    co_return co_await readJournal(std::move(query));
  } catch (const CommandError& e) {
    std::fprintf(stderr, "the forwarder's journal could not be read: %s\n", e.what());
  }
  co_return std::vector<JournalEntry>{};
}

}  // namespace

std::string_view stepName(ChangeStep step) {
  switch (step) {
    case ChangeStep::Validating:
      return "validating";
    case ChangeStep::Saving:
      return "saving";
    case ChangeStep::Writing:
      return "writing";
    case ChangeStep::Restarting:
      return "restarting";
    case ChangeStep::Watching:
      return "watching";
    case ChangeStep::RollingBack:
      return "rolling-back";
    case ChangeStep::Finished:
      return "finished";
  }
  return "";
}

std::string_view resultName(ChangeResult result) {
  switch (result) {
    case ChangeResult::Applied:
      return "applied";
    case ChangeResult::Busy:
      return "busy";
    case ChangeResult::Invalid:
      return "invalid";
    case ChangeResult::Unparsable:
      return "unparsable";
    case ChangeResult::Unreadable:
      return "unreadable";
    case ChangeResult::Misread:
      return "misread";
    case ChangeResult::Overridden:
      return "overridden";
    case ChangeResult::Stale:
      return "stale";
    case ChangeResult::NotReceivable:
      return "not-receivable";
    case ChangeResult::OutOfBand:
      return "out-of-band";
    case ChangeResult::Changed:
      return "changed";
    case ChangeResult::Failed:
      return "failed";
    case ChangeResult::RolledBack:
      return "rolled-back";
    case ChangeResult::RollbackFailed:
      return "rollback-failed";
  }
  return "";
}

struct ConfigChanges::Prepared {
  // The file the configuration's path leads to, resolved once: the change and its rollback
  // write the file that was read, whatever becomes of a symbolic link on the way meanwhile.
  std::string target;
  std::string oldText;
  std::string newText;
  bool keptLayout = true;
  bool wholeText = false;
  std::vector<std::string> notices;
  ForwarderTiming timing;  // of the new file, as the forwarder reads it
};

std::string_view interruptedStateName(InterruptedChange::State state) {
  switch (state) {
    case InterruptedChange::State::Watching:
      return "watching";
    case InterruptedChange::State::Kept:
      return "kept";
    case InterruptedChange::State::RolledBack:
      return "rolled-back";
    case InterruptedChange::State::RollbackFailed:
      return "rollback-failed";
  }
  return "";
}

ConfigChanges::ConfigChanges(ChangeSettings settings)
    : settings_(std::move(settings)), history_(settings_.historyDirectory) {}

ChangeProgress& ConfigChanges::step(ChangeStep step) {
  progress_->step = step;
  return *progress_;
}

Task<ConfigChanges::Turn> ConfigChanges::waitTurn() {
  while (busy_)
    co_await SleepFor(kTurnPoll);
  co_return Turn(*this);
}

Task<ChangeOutcome> ConfigChanges::change(ChangeRequest request) {
  if (busy_) {
    ChangeOutcome outcome;
    outcome.result = ChangeResult::Busy;
    outcome.message = "Another change of the forwarder's configuration is under way";
    if (progress_ && !progress_->outcome) {
      const ChangeAuthor& a = progress_->author;
      outcome.message += " (" + a.procedure + (a.user.empty() ? "" : " by " + a.user) +
                         (a.peer.empty() ? "" : " from " + a.peer) + ")";
    }
    outcome.message += "; try again once it has finished";
    countEnd(outcome.result);
    co_return outcome;
  }
  const Turn turn(*this);
  progress_ = ChangeProgress{};
  progress_->id = ++changes_;
  progress_->author = request.author;
  progress_->settle = request.settle;
  ChangeOutcome outcome;
  try {
    outcome = co_await run(request);
  } catch (const Stop& s) {
    outcome = s.outcome;
  } catch (const std::exception& e) {
    // Whatever went wrong, the page that follows the change learns that it ended, and why.
    outcome.result = ChangeResult::Failed;
    outcome.message = std::string("The change failed: ") + e.what();
  }
  step(ChangeStep::Finished).outcome = outcome;
  countEnd(outcome.result);
  co_return outcome;
}

void ConfigChanges::countEnd(ChangeResult result) {
  ++counts_.results[static_cast<std::size_t>(result)];
  counts_.lastTime = nowUtc();
  counts_.lastResult = result;
}

ConfigChanges::Prepared ConfigChanges::prepare(const ChangeRequest& request) {
  Prepared p;
  p.target = resolvedPath(settings_.configPath);
  try {
    p.oldText = readTextFile(p.target);
  } catch (const OSError& e) {
    stop(ChangeResult::Failed, std::string("The configuration file cannot be read: ") + e.what() +
                                   "; nothing was changed");
  }
  if (request.base && contentHash(p.oldText) != *request.base) {
    ChangeOutcome outcome;
    outcome.result = ChangeResult::Stale;
    outcome.currentHash = contentHash(p.oldText);
    outcome.message =
        "The configuration file was changed on the gateway since this change was made against "
        "it; nothing was written. Look at what changed, carry the change over and apply again";
    throw Stop{std::move(outcome)};
  }
  // What the forwarder reads now, and what the operator means it to read after the change.
  const ForwarderReading before = readAsForwarder(p.oldText);
  JsonNodePtr intended;
  // The plan whose band a patch keeps to: the one asked for, or the one the file implemented.
  const FrequencyPlan* bandPlan = request.plan;
  if (request.text) {
    p.wholeText = true;
    p.newText = *request.text;
    try {
      intended = parseJson(p.newText);
    } catch (const JsonParsingError& e) {
      // Text after the document: our parser refuses it, the forwarder ignores it and reads the
      // rest, which is then what is meant.
      if (!readAsForwarder(p.newText).document) {
        ChangeOutcome outcome;
        outcome.result = ChangeResult::Invalid;
        outcome.message =
            std::string("The new file is not valid JSON: ") + e.what() + "; nothing was changed";
        outcome.problems.push_back({"", e.what()});
        throw Stop{std::move(outcome)};
      }
    }
  } else {
    JsonNodePtr current;
    try {
      current = readConfigDocument(p.oldText);
    } catch (const JsonParsingError& e) {
      stop(ChangeResult::Unparsable,
           std::string("The configuration file does not parse (") + e.what() +
               "), so no change can be merged into it; replace the whole file instead");
    }
    if (!bandPlan) {
      const PlanRecognition recognised = recognisePlan(*current);
      if (recognised.exact) bandPlan = recognised.plan;
    }
    JsonNodePtr patch = request.patch;
    if (request.plan) {
      try {
        patch = planPatch(*current, *request.plan);
      } catch (const PlanRefused& e) {
        stop(ChangeResult::NotReceivable,
             std::string("The configuration was not changed: ") + e.what());
      }
    }
    intended = merge(*current, *patch);
    if (std::optional<std::string> edited = editJsonText(p.oldText, *current, *intended)) {
      p.newText = std::move(*edited);
    } else {
      p.keptLayout = false;
      p.newText = toPretty(*intended, 2);
      try {
        parseJson(p.newText);
      } catch (const JsonParsingError& e) {
        // Never expected (the parser refuses the numbers a double cannot hold): the last guard
        // against writing a file that does not read back.
        stop(ChangeResult::Invalid,
             std::string("The changed configuration would not be valid JSON: ") + e.what());
      }
    }
  }
  const JsonNodePtr document = judgeAsForwarder(p, intended, before.document != nullptr);
  const SideFiles side = readSideFiles(settings_.configPath, *document);
  p.timing = timingOf(*effectiveDocument(*document, side));

  ChangeOutcome outcome;
  outcome.problems = checkForwarderConfig(*document);
  if (!outcome.problems.empty()) {
    outcome.result = ChangeResult::Invalid;
    outcome.message = "The configuration was not changed: " + describeProblems(outcome.problems);
    throw Stop{std::move(outcome)};
  }
  if (request.keepInBand) {
    outcome.problems = request.text ? checkBand(*document) : checkBand(*document, bandPlan);
    if (!outcome.problems.empty()) {
      outcome.result = ChangeResult::OutOfBand;
      outcome.message = "The configuration was not changed: " + describeProblems(outcome.problems) +
                        ". Confirm the change to make it outside the band";
      throw Stop{std::move(outcome)};
    }
  }
  if (before.document) {
    outcome.overrides = overridesTouched(*before.document, *document, side);
    if (!outcome.overrides.empty() && request.fromHistory) {
      p.notices.push_back("Note: " + describeOverrides(outcome.overrides) + ".");
    } else if (!outcome.overrides.empty()) {
      outcome.result = ChangeResult::Overridden;
      outcome.message =
          "The configuration was not changed: " + describeOverrides(outcome.overrides);
      throw Stop{std::move(outcome)};
    }
  }
  return p;
}

JsonNodePtr ConfigChanges::judgeAsForwarder(Prepared& p, const JsonNodePtr& intended,
                                            bool readableBefore) {
  ForwarderReading reading = readAsForwarder(p.newText);
  if (!reading.document) {
    ChangeOutcome outcome;
    outcome.result = ChangeResult::Unreadable;
    outcome.refusal = reading.refusal;
    outcome.message = std::string("The forwarder could not read the ") +
                      (p.wholeText ? "new" : "changed") + " file";
    if (reading.refusal) {
      outcome.message += " (line " + std::to_string(reading.refusal->line) + ", column " +
                         std::to_string(reading.refusal->column) + "): " + reading.refusal->message;
    }
    if (!readableBefore) outcome.message += ". It cannot read the file on the gateway either";
    outcome.message += "; nothing was changed";
    throw Stop{std::move(outcome)};
  }
  if (intended) {
    std::vector<std::string> members = differingMembers(*intended, *reading.document);
    if (!members.empty()) {
      ChangeOutcome outcome;
      outcome.result = ChangeResult::Misread;
      outcome.quirks = reading.quirks;
      outcome.members = std::move(members);
      outcome.message = "The forwarder would read the file otherwise than it is written: ";
      for (const TextNote& quirk : outcome.quirks) {
        outcome.message += "line " + std::to_string(quirk.line) + ": " + quirk.message + "; ";
      }
      outcome.message += "the members it would read otherwise: ";
      for (std::size_t i = 0; i < outcome.members.size(); ++i)
        outcome.message += (i > 0 ? ", " : "") + outcome.members[i];
      outcome.message += ". Nothing was changed";
      throw Stop{std::move(outcome)};
    }
  }
  if (reading.ignoredTail) {
    p.notices.push_back("The forwarder ignores the text from line " +
                        std::to_string(reading.ignoredTail->line) +
                        " on: it comes after the end of the document.");
  }
  return std::move(reading.document);
}

Task<ChangeOutcome> ConfigChanges::run(const ChangeRequest& request) {
  const Prepared prepared = prepare(request);
  const VersionFacts facts = co_await factsBefore(request);

  ChangeOutcome outcome;
  outcome.keptLayout = prepared.keptLayout;
  outcome.notices = prepared.notices;
  step(ChangeStep::Saving);
  try {
    outcome.version = history_.save(prepared.oldText, request.author, facts).number;
  } catch (const OSError& e) {
    stop(ChangeResult::Failed, std::string("The history could not be written (") + e.what() +
                                   "), so nothing was changed");
  }
  step(ChangeStep::Writing).version = outcome.version;
  if (request.beforeWrite) request.beforeWrite(*outcome.version);
  removeLeftoverFiles(prepared.target);
  try {
    replaceFile(prepared.target, prepared.newText, prepared.oldText);
  } catch (const FileChangedError&) {
    history_.remove(*outcome.version);
    stop(ChangeResult::Changed,
         "The configuration file was changed by someone else while this change was being "
         "prepared; nothing was written. Look at the file as it is now and try again");
  } catch (const OSError& e) {
    history_.remove(*outcome.version);
    stop(ChangeResult::Failed, std::string("The configuration file could not be written (") +
                                   e.what() + "); it is untouched");
  }
  outcome.result = ChangeResult::Applied;
  // Without a unit the forwarder is run some other way: nothing to restart or watch.
  if (settings_.unit.empty()) co_return outcome;

  step(ChangeStep::Restarting);
  const Clock::time_point restartedAt = Clock::now();
  WatchPlan plan{.unit = settings_.unit,
                 .settle = request.settle,
                 .link = request.watchLink,
                 .timing = prepared.timing,
                 .reportMargin = settings_.reportMargin,
                 .restartedAtUtc = nowUtc(),
                 .interval = settings_.lookInterval};
  // Written down before the restart: a relaydash stopped from here on finishes the watch when it
  // starts again.
  try {
    writePendingChange(pendingPath(),
                       PendingChange{*outcome.version, request.author, formatIsoUtc(nowUtc()),
                                     contentHash(prepared.newText), plan.restartedAtUtc,
                                     request.settle.count(), request.watchLink});
  } catch (const OSError& e) {
    std::fprintf(stderr, "the change under way could not be written down: %s\n", e.what());
  }
  if (std::string failure = co_await restartUnit(settings_); !failure.empty()) {
    co_return co_await rollBack(request.author, request.settle, prepared.target, prepared.oldText,
                                prepared.newText, std::move(outcome),
                                "the restart failed: " + failure, RollbackCause::RestartFailed,
                                restartedAt);
  }
  outcome.restarted = true;
  // Until the link is judged the watch may last longer than the process's.
  const Clock::time_point processUntil = Clock::now() + processWatchFor(plan);
  step(ChangeStep::Watching).watchUntil =
      plan.link ? std::max(processUntil, Clock::now() + reportWaitFor(plan)) : processUntil;
  ChangeVerdict verdict = co_await watchChange(plan, [this, processUntil](std::string what) {
    if (what.empty()) progress_->watchUntil = processUntil;
    progress_->waitingFor = std::move(what);
  });
  progress_->waitingFor.clear();
  outcome.link = std::move(verdict.link);
  if (verdict.healthy) {
    removePendingChange(pendingPath());
    co_return outcome;
  }
  co_return co_await rollBack(request.author, request.settle, prepared.target, prepared.oldText,
                              prepared.newText, std::move(outcome), std::move(verdict.reason),
                              verdict.cause, restartedAt);
}

Task<VersionFacts> ConfigChanges::factsBefore(const ChangeRequest& request) {
  VersionFacts facts;
  facts.ranSince = fileWrittenAt(settings_.configPath);
  facts.restores = request.restores;
  if (settings_.unit.empty()) co_return facts;
  std::vector<std::string> names{settings_.unit};
  try {
    const std::vector<UnitStatus> units = co_await readUnitStatus(std::move(names));
    const UnitStatus& unit = units.front();
    if (unit.activeState != "active" || unit.subState != "running") {
      facts.ranWell = false;
      co_return facts;
    }
    facts.ranWell = true;
    const std::vector<LinkReport> reports = co_await readLinkReports(settings_.unit, 300);
    const LinkBefore before = linkBefore(reports, nowUtc());
    if (before.pushAckPercent || before.pullAckPercent) {
      facts.ranWell =
          before.pushAckPercent.value_or(0) > 0 || before.pullAckPercent.value_or(0) > 0;
    }
  } catch (const CommandError& e) {
    std::fprintf(stderr, "how the forwarder ran before the change could not be read: %s\n",
                 e.what());
  }
  co_return facts;
}

std::string ConfigChanges::pendingPath() const {
  return settings_.historyDirectory + "/change-under-way.json";
}

Task<ChangeOutcome> ConfigChanges::rollBack(const ChangeAuthor& changeAuthor,
                                            std::chrono::milliseconds settle,
                                            const std::string& target, const std::string& oldText,
                                            const std::string& newText, ChangeOutcome outcome,
                                            std::string reason, RollbackCause cause,
                                            Clock::time_point restartedAt) {
  ++counts_.rollbacks[static_cast<std::size_t>(cause)];
  outcome.journal = co_await journalSince(settings_.unit, restartedAt);
  if (progress_) step(ChangeStep::RollingBack).reason = reason;
  // The rejected file is kept too, so the operator can look at it and mend it; but nothing may
  // delay putting the old one back.
  try {
    ChangeAuthor author = changeAuthor;
    author.procedure += " (rolled back)";
    VersionFacts facts;
    facts.kind = "rejected";
    facts.reason = reason;
    const ForwarderReading oldReading = readAsForwarder(oldText);
    const ForwarderReading newReading = readAsForwarder(newText);
    if (oldReading.document && newReading.document)
      facts.changed = differingMembers(*oldReading.document, *newReading.document);
    outcome.rejected = history_.save(newText, author, facts).number;
  } catch (const OSError& e) {
    std::printf("the rolled back configuration could not be kept in the history: %s\n", e.what());
    std::fflush(stdout);
  }
  try {
    replaceFile(target, oldText);
  } catch (const OSError& e) {
    removePendingChange(pendingPath());
    outcome.result = ChangeResult::RollbackFailed;
    outcome.message = "The change did not work (" + reason +
                      "), and putting the previous file back failed (" + e.what() +
                      "): the new file is still in place. Version " +
                      std::to_string(*outcome.version) + " of the history holds the previous one";
    co_return outcome;
  }
  removePendingChange(pendingPath());
  outcome.result = ChangeResult::RolledBack;
  outcome.message = "The change was rolled back: " + reason + ". The previous file is back";
  if (std::string failure = co_await restartUnit(settings_); !failure.empty()) {
    outcome.message += ", but restarting the forwarder with it failed too: " + failure;
  } else if (co_await waitUntilRunning(settings_.unit, settle, settings_.lookInterval)) {
    outcome.message += " and the forwarder runs with it again";
  } else {
    outcome.message += ", but the forwarder is not running yet";
  }
  co_return outcome;
}

Task<std::optional<InterruptedChange>> ConfigChanges::finishInterrupted() {
  std::optional<PendingChange> record = readPendingChange(pendingPath());
  if (!record) co_return std::nullopt;
  const Turn turn = co_await waitTurn();
  interrupted_ = InterruptedChange{*record, InterruptedChange::State::Watching, {}, {}};
  InterruptedChange& found = *interrupted_;
  const PendingChange& r = found.record;
  const std::string what = "The change of " + r.time + " (" + r.author.procedure +
                           (r.author.user.empty() ? "" : " by " + r.author.user) +
                           "), interrupted when relaydash stopped,";
  found.message = what + " is being watched again";
  const auto finish = [&](InterruptedChange::State state, std::string message) {
    found.state = state;
    found.message = std::move(message);
    removePendingChange(pendingPath());
    std::printf("%s\n", found.message.c_str());
    std::fflush(stdout);
  };
  try {
    const std::string target = resolvedPath(settings_.configPath);
    const std::string text = readTextFile(target);
    std::optional<StoredVersion> old = history_.read(r.version);
    if (contentHash(text) != r.hash) {
      finish(InterruptedChange::State::Kept,
             what +
                 " was not watched to its end: the file has been changed since, and is left "
                 "as it is");
      co_return interrupted_;
    }
    if (!old) {
      finish(InterruptedChange::State::Kept,
             what + " could not be checked: version " + std::to_string(r.version) +
                 " of the history, the file before it, is gone. The file is left as it is");
      co_return interrupted_;
    }
    if (settings_.unit.empty()) {
      finish(InterruptedChange::State::Kept, what + " is kept: no forwarder unit to watch");
      co_return interrupted_;
    }
    const ForwarderReading reading = readAsForwarder(text);
    WatchPlan plan{.unit = settings_.unit,
                   .settle = std::chrono::milliseconds(r.settleMilliseconds),
                   .link = r.link,
                   .timing = reading.document ? timingOf(*reading.document) : ForwarderTiming{},
                   .reportMargin = settings_.reportMargin,
                   .restartedAtUtc = r.restartedAtUtc,
                   .interval = settings_.lookInterval};
    ChangeVerdict verdict = co_await watchChange(plan);
    if (verdict.healthy) {
      finish(InterruptedChange::State::Kept,
             what + " was watched to its end: the forwarder runs with it" +
                 (verdict.link.empty() ? "" : "; " + verdict.link));
      co_return interrupted_;
    }
    ChangeOutcome outcome;
    outcome.version = r.version;
    outcome = co_await rollBack(r.author, plan.settle, target, old->bytes, text, std::move(outcome),
                                verdict.reason, verdict.cause, Clock::now());
    found.rejected = outcome.rejected;
    finish(outcome.result == ChangeResult::RolledBack ? InterruptedChange::State::RolledBack
                                                      : InterruptedChange::State::RollbackFailed,
           what + " " + lowerFirst(outcome.message));
  } catch (const std::exception& e) {
    finish(InterruptedChange::State::Kept,
           what + " could not be finished (" + e.what() + "); the file is left as it is");
  }
  co_return interrupted_;
}

}  // namespace relaydash
