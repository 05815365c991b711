#pragma once

#include <optional>
#include <vector>

#include "gateway/command.hpp"
#include "gateway/forwarder_summary.hpp"
#include "gateway/journal.hpp"
#include "gateway/link_health.hpp"
#include "gateway/link_verdict.hpp"
#include "gateway/system_facts.hpp"
#include "gateway/unit_status.hpp"
#include "json/value.hpp"

namespace relaydash {

// The JSON forms of the gateway's facts in the answers of gateway/status and gateway/logs.
// Members always come in the order written here; what is unknown is null. Times are ISO-8601
// UTC texts.

// {"unit","loadState","activeState","subState","result","unitFileState","since",
//  "stateChangedAt","restarts","mainPid"}
JsonNodePtr unitStatusJson(const UnitStatus& unit);

// {"hostname","os","kernel","uptimeSeconds","load":[1,5,15 min],"memory":{"totalBytes",
//  "availableBytes"},"storage":{"path","totalBytes","freeBytes"},"interfaces":[{"name",
//  "addresses"}],"clockSynchronized"}
JsonNodePtr systemFactsJson(const SystemFacts& facts, std::optional<bool> clockSynchronized);

// {"gatewayId","serverAddress","serverPortUp","serverPortDown","layout","sizeBytes","modified",
//  "hasComments","error","forwarder","sideFiles"}: the last two null when the file cannot be read.
JsonNodePtr forwarderSummaryJson(const ForwarderSummary& summary);

// {"line","column","message"}
JsonNodePtr textNoteJson(const TextNote& note);

// [{"line","column","message"}, …]
JsonNodePtr textNotesJson(const std::vector<TextNote>& notes);

// {"reads","refusal","ignoredTail","quirks":[note],"misread":[path]}: how the forwarder reads
// the file.
JsonNodePtr forwarderReadingJson(const ForwarderView& view);

// {"readInstead": null or file,"overrides":[{"path","file","value"}],"notes":[text]}: the other
// files the forwarder reads.
JsonNodePtr sideFilesJson(const SideFiles& side);

// null without reports; otherwise {"latest": every number of the newest report (its GPS members
// from the newest report that holds a GPS block), "series": the main numbers of each report,
// oldest first, "statIntervalSeconds","ageSeconds","stale"}.
JsonNodePtr linkHealthJson(const std::vector<LinkReport>& reports, const ReportAge& age);

// {"level","text","since","logsFrom","change": null or {"version","time","procedure","user"},
//  "checks":[{"name","level","text"}]}
JsonNodePtr verdictJson(const GatewayVerdict& verdict);

// {"time","priority","message"}
JsonNodePtr journalEntryJson(const JournalEntry& entry);

}  // namespace relaydash
