#include "api/forwarder_config/config_json.hpp"

#include <chrono>

#include "api/gateway/gateway_json.hpp"
#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

JsonNodePtr textOrNull(const std::string& text) {
  return text.empty() ? newJNull() : newJString(text);
}

std::int64_t wholeSeconds(std::chrono::milliseconds ms) {
  return std::chrono::duration_cast<std::chrono::seconds>(ms).count();
}

}  // namespace

JsonNodePtr configVersionJson(const ConfigVersion& v) {
  JsonNodePtr o = newJObject();
  o->set("version", newJInt(v.number));
  o->set("time", newJString(v.time));
  o->set("user", newJString(v.author.user));
  o->set("peer", newJString(v.author.peer));
  o->set("procedure", newJString(v.author.procedure));
  o->set("size", newJInt(static_cast<std::int64_t>(v.size)));
  const VersionFacts& f = v.facts;
  o->set("kind", newJString(f.kind));
  o->set("reason", textOrNull(f.reason));
  JsonNodePtr changed = newJArray();
  for (const std::string& member : f.changed)
    changed->add(newJString(member));
  o->set("changed", std::move(changed));
  o->set("ranSince", f.ranSince ? newJString(formatIsoUtc(*f.ranSince, true)) : newJNull());
  o->set("ranSeconds", newJIntOrNull(v.ranSeconds));
  o->set("ranWell", f.ranWell ? newJBool(*f.ranWell) : newJNull());
  o->set("restores", newJIntOrNull(f.restores));
  return o;
}

JsonNodePtr configProblemsJson(const std::vector<ConfigProblem>& problems) {
  JsonNodePtr list = newJArray();
  for (const ConfigProblem& p : problems) {
    JsonNodePtr o = newJObject();
    o->set("path", newJString(p.path));
    o->set("message", newJString(p.message));
    list->add(std::move(o));
  }
  return list;
}

JsonNodePtr changeOutcomeJson(const ChangeOutcome& outcome) {
  JsonNodePtr o = newJObject();
  o->set("result", newJString(std::string(resultName(outcome.result))));
  o->set("message", textOrNull(outcome.message));
  o->set("version", newJIntOrNull(outcome.version));
  o->set("rejectedVersion", newJIntOrNull(outcome.rejected));
  o->set("keptLayout", newJBool(outcome.keptLayout));
  o->set("restarted", newJBool(outcome.restarted));
  o->set("problems", configProblemsJson(outcome.problems));
  JsonNodePtr journal = newJArray();
  for (const JournalEntry& entry : outcome.journal)
    journal->add(journalEntryJson(entry));
  o->set("journal", std::move(journal));
  o->set("link", outcome.link.empty() ? newJNull() : newJString(outcome.link));
  return o;
}

JsonNodePtr changeProgressJson(const std::optional<ChangeProgress>& progress) {
  JsonNodePtr o = newJObject();
  const bool running = progress && !progress->outcome;
  o->set("id", newJInt(progress ? static_cast<std::int64_t>(progress->id) : 0));
  o->set("running", newJBool(running));
  o->set("procedure", progress ? newJString(progress->author.procedure) : newJNull());
  o->set("user", progress ? newJString(progress->author.user) : newJNull());
  o->set("peer", progress ? newJString(progress->author.peer) : newJNull());
  o->set("step", progress ? newJString(std::string(stepName(progress->step))) : newJNull());
  o->set("version", progress ? newJIntOrNull(progress->version) : newJNull());
  o->set("settleSeconds", progress ? newJInt(wholeSeconds(progress->settle)) : newJNull());
  JsonNodePtr left = newJNull();
  if (running && progress->step == ChangeStep::Watching) {
    const auto rest = progress->watchUntil - EventLoop::Clock::now();
    // Rounded up: the page counts down to 0 when the watch ends, not a second before.
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(rest).count();
    left = newJInt(ms <= 0 ? 0 : (ms + 999) / 1000);
  }
  o->set("secondsLeft", std::move(left));
  o->set("reason", progress ? textOrNull(progress->reason) : newJNull());
  o->set("outcome",
         progress && progress->outcome ? changeOutcomeJson(*progress->outcome) : newJNull());
  o->set("waitingFor",
         running && !progress->waitingFor.empty() ? newJString(progress->waitingFor) : newJNull());
  return o;
}

JsonNodePtr interruptedChangeJson(const std::optional<InterruptedChange>& change) {
  if (!change) return newJNull();
  const PendingChange& r = change->record;
  JsonNodePtr o = newJObject();
  o->set("time", newJString(r.time));
  o->set("procedure", newJString(r.author.procedure));
  o->set("user", newJString(r.author.user));
  o->set("version", newJInt(r.version));
  o->set("state", newJString(std::string(interruptedStateName(change->state))));
  o->set("message", newJString(change->message));
  o->set("rejectedVersion", newJIntOrNull(change->rejected));
  return o;
}

}  // namespace relaydash
