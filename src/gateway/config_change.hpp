#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/change_watch.hpp"
#include "gateway/config_history.hpp"
#include "gateway/config_rules.hpp"
#include "gateway/forwarder_reader.hpp"
#include "gateway/frequency_plan.hpp"
#include "gateway/journal.hpp"
#include "gateway/pending_change.hpp"
#include "gateway/service_control.hpp"
#include "gateway/side_files.hpp"
#include "gateway/staged_texts.hpp"
#include "json/value.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// A change of the forwarder's configuration that cannot leave the gateway off the network: the
// new file is checked, the old one kept in the history, the new one written atomically and the
// forwarder restarted and watched; when it does not keep running, the old file is put back and
// the forwarder restarted again.

// Where a change is.
enum class ChangeStep { Validating, Saving, Writing, Restarting, Watching, RollingBack, Finished };
std::string_view stepName(
    ChangeStep step);  // "validating", "saving", ..., "rolling-back", "finished"

// How it ended.
enum class ChangeResult {
  Applied,         // the new file is in place (and the forwarder kept running with it)
  Busy,            // another change was under way: nothing done
  Invalid,         // the new document breaks a rule, or the new text is no JSON: nothing written
  Unparsable,      // the file does not parse, so nothing can be merged into it: nothing written
  Unreadable,      // the forwarder could not read the new file: nothing written
  Misread,         // the forwarder would read the new file otherwise than it reads as JSON
  Overridden,      // the change is to members a side file sets, where it has no effect
  Stale,           // the file is no longer the one the change was based on: nothing written
  NotReceivable,   // the file's radios cannot receive the plan asked for: nothing written
  OutOfBand,       // the new document receives or transmits outside its band: nothing written
  Changed,         // someone else changed the file meanwhile: nothing written
  Failed,          // the file or the history could not be read or written: the file untouched
  RolledBack,      // the forwarder did not keep running: the old file is back
  RollbackFailed,  // ... and the old file could not be put back: the new one is in place
};
std::string_view resultName(ChangeResult result);  // "applied", "busy", ..., "rollback-failed"
inline constexpr std::size_t kChangeResults = 14;
static_assert(static_cast<std::size_t>(ChangeResult::RollbackFailed) + 1 == kChangeResults);

// What the changes since start came to, counted as they end (for monitoring).
struct ChangeCounts {
  // Changes (apply, restore) by how they ended, indexed by ChangeResult.
  std::array<std::uint64_t, kChangeResults> results{};
  // Rollbacks by cause, indexed by RollbackCause: a change's, or that of a change a stop of
  // relaydash interrupted.
  std::array<std::uint64_t, kRollbackCauses> rollbacks{};
  // When the last change ended (microseconds UTC) and how; nullopt before the first.
  std::optional<std::int64_t> lastTime;
  ChangeResult lastResult = ChangeResult::Applied;
};

struct ChangeOutcome {
  ChangeResult result = ChangeResult::Failed;
  std::string message;          // for every result but Applied: what happened, for the operator
  std::optional<int> version;   // the history's version of the file before the change
  std::optional<int> rejected;  // the history's version of a file that was rolled back
  bool keptLayout = true;       // false: a merge was written in the pretty form
  bool restarted = false;       // whether the forwarder was restarted with the new file
  std::vector<ConfigProblem> problems;    // Invalid, OutOfBand
  std::vector<JournalEntry> journal;      // RolledBack: the forwarder's last words
  std::optional<TextNote> refusal;        // Unreadable: why the forwarder could not read it
  std::vector<TextNote> quirks;           // Misread: the comments it takes otherwise
  std::vector<std::string> members;       // Misread: the members it would read otherwise
  std::vector<ConfigOverride> overrides;  // Overridden: the side file's members changed
  std::string currentHash;                // Stale: the contentHash of the file as it is
  std::vector<std::string> notices;       // Applied: what the operator should know of it
  // Once the forwarder was restarted: what the network server did after the change, or why that
  // could not be told ("PUSH_DATA acknowledged 100 % in the first report after the change").
  std::string link;
};

struct ChangeRequest {
  ChangeAuthor author;
  std::chrono::milliseconds settle{15'000};  // how long the forwarder is watched
  // Either a patch merged into the file (as forwarder-config/patch merges, keeping the file's
  // layout), or a frequency plan (the patch that makes the file receive it, planPatch), or the
  // whole new file.
  JsonNodePtr patch;
  const FrequencyPlan* plan = nullptr;
  std::optional<std::string> text;
  // Refuse (OutOfBand) a new document with channels or radio centres outside its band: for a
  // patch, the band of the plan the file implemented before it (or of the plan asked for); for a
  // whole file, its own (checkBand).
  bool keepInBand = false;
  // The contentHash of the file the change was made against: a file that is no longer the same
  // is not replaced (Stale). None: whatever the file holds.
  std::optional<std::string> base;
  // The text is a version from the history: putting a known file back is never refused for
  // members a side file sets, only noted.
  bool fromHistory = false;
  // The number of that version: the version kept of the file it replaces says it restored it.
  std::optional<int> restores;
  // Judge the link too (the network server's acknowledgements before and after the change), not
  // only whether the process keeps running.
  bool watchLink = true;
  // Called once the old file is kept in the history, with its version, just before the new file
  // is written: where the caller writes down that the change is under way. Must not raise.
  std::function<void(int version)> beforeWrite;
};

// What a change is doing, for the page that polls it.
struct ChangeProgress {
  std::uint64_t id = 0;  // counts the changes since the server started
  ChangeAuthor author;
  ChangeStep step = ChangeStep::Validating;
  std::optional<int> version;
  std::chrono::milliseconds settle{};
  EventLoop::Clock::time_point watchUntil{};  // while Watching
  std::string reason;                         // while RollingBack: why
  std::string waitingFor;                     // while Watching: what it waits for, if anything
  std::optional<ChangeOutcome> outcome;       // once Finished
};

struct ChangeSettings {
  std::string configPath;
  std::string unit;  // empty: the forwarder is not a unit, nothing is restarted or watched
  std::string historyDirectory;
  std::chrono::milliseconds lookInterval{1000};                 // between looks at the unit
  std::chrono::milliseconds restartTimeout{kSystemctlTimeout};  // for `systemctl restart`
  // Allowed for a statistics report to reach the journal late (the forwarder's output is buffered).
  std::chrono::milliseconds reportMargin{10'000};
};

// A change that a previous run of relaydash was watching when it stopped, found at start-up.
struct InterruptedChange {
  enum class State { Watching, Kept, RolledBack, RollbackFailed };
  PendingChange record;
  State state = State::Watching;
  std::string message;          // for the operator
  std::optional<int> rejected;  // RolledBack: the history's version of the file taken away
};
std::string_view interruptedStateName(InterruptedChange::State state);  // "watching", ...

// One per server. A change runs on the event loop, every other request is served meanwhile; one
// change at a time: another is refused at once (Busy), a forwarder-config/patch waits its turn.
class ConfigChanges {
 public:
  // Held while the file is being changed; the next change may start once it is gone.
  class Turn {
   public:
    Turn(Turn&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    Turn& operator=(Turn&&) = delete;
    Turn(const Turn&) = delete;
    ~Turn() {
      if (owner_) owner_->busy_ = false;
    }

   private:
    friend class ConfigChanges;
    explicit Turn(ConfigChanges& owner) : owner_(&owner) { owner.busy_ = true; }
    ConfigChanges* owner_;
  };

  explicit ConfigChanges(ChangeSettings settings);
  ConfigChanges(const ConfigChanges&) = delete;
  ConfigChanges& operator=(const ConfigChanges&) = delete;

  const ChangeSettings& settings() const noexcept { return settings_; }
  ConfigHistory& history() noexcept { return history_; }
  StagedTexts& uploads() noexcept { return uploads_; }

  // The change under way, or the last one; nullopt before the first.
  const std::optional<ChangeProgress>& progress() const noexcept { return progress_; }
  bool busy() const noexcept { return busy_; }

  // Runs the whole change and answers how it ended; every failure is an outcome (an unforeseen
  // error is Failed with its message), nothing is raised.
  Task<ChangeOutcome> change(ChangeRequest request);

  // Waits until no change runs, then takes the turn.
  Task<Turn> waitTurn();

  // At start-up: finds a change that was being watched when relaydash stopped, finishes its watch
  // and rolls it back when the forwarder does not keep running with it (or loses the link).
  // Answers nullopt when there was none. Holds the turn meanwhile. Never raises.
  Task<std::optional<InterruptedChange>> finishInterrupted();
  // The change finishInterrupted found (also while it is being watched); nullopt when none.
  const std::optional<InterruptedChange>& interrupted() const noexcept { return interrupted_; }

  const ChangeCounts& counts() const noexcept { return counts_; }

 private:
  struct Prepared;
  Prepared prepare(const ChangeRequest& request);
  // What the forwarder reads of the prepared text, which must be what is intended (when known).
  // Stops the change when it cannot read it or reads it otherwise.
  static JsonNodePtr judgeAsForwarder(Prepared& p, const JsonNodePtr& intended,
                                      bool readableBefore);
  Task<ChangeOutcome> run(const ChangeRequest& request);
  // What was true of the forwarder as the change began, for the version kept of the old file.
  Task<VersionFacts> factsBefore(const ChangeRequest& request);
  // Puts oldText back at target, the file the change wrote, after a change that did not work.
  Task<ChangeOutcome> rollBack(const ChangeAuthor& author, std::chrono::milliseconds settle,
                               const std::string& target, const std::string& oldText,
                               const std::string& newText, ChangeOutcome outcome,
                               std::string reason, RollbackCause cause,
                               EventLoop::Clock::time_point restartedAt);
  std::string pendingPath() const;
  ChangeProgress& step(ChangeStep step);
  void countEnd(ChangeResult result);

  ChangeSettings settings_;
  ConfigHistory history_;
  StagedTexts uploads_;
  std::optional<ChangeProgress> progress_;
  std::optional<InterruptedChange> interrupted_;
  std::uint64_t changes_ = 0;
  ChangeCounts counts_;
  bool busy_ = false;
};

}  // namespace relaydash
