#include "api/gateway/gateway_json.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "gateway/time_text.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

JsonNodePtr floatOrNull(const std::optional<double>& value) {
  return value ? newJFloat(*value) : newJNull();
}

JsonNodePtr textOrNull(const std::optional<std::string>& value) {
  return value ? newJString(*value) : newJNull();
}

JsonNodePtr timeOrNull(const std::optional<std::int64_t>& microseconds) {
  return microseconds ? newJString(formatIsoUtc(*microseconds)) : newJNull();
}

JsonNodePtr stringArray(const std::vector<std::string>& items) {
  JsonNodePtr array = newJArray();
  for (const std::string& item : items)
    array->add(newJString(item));
  return array;
}

const char* timeReferenceText(TimeReference reference) {
  switch (reference) {
    case TimeReference::Valid:
      return "valid";
    case TimeReference::Invalid:
      return "invalid";
    case TimeReference::Disabled:
      return "disabled";
  }
  return "";
}

// `gps` is the newest report that holds a GPS block: a report cut short before it (the rest still
// in the forwarder's buffer) says nothing of the time reference and the position.
JsonNodePtr latestReportJson(const LinkReport& r, const LinkReport& gps) {
  JsonNodePtr o = newJObject();
  o->set("time", newJString(formatIsoUtc(r.time)));
  o->set("rfReceived", newJIntOrNull(r.rfReceived));
  o->set("crcOkPercent", floatOrNull(r.crcOkPercent));
  o->set("crcFailPercent", floatOrNull(r.crcFailPercent));
  o->set("noCrcPercent", floatOrNull(r.noCrcPercent));
  o->set("rfForwarded", newJIntOrNull(r.rfForwarded));
  o->set("rfForwardedBytes", newJIntOrNull(r.rfForwardedBytes));
  o->set("pushDataSent", newJIntOrNull(r.pushDataSent));
  o->set("pushDataBytes", newJIntOrNull(r.pushDataBytes));
  o->set("pushDataAckPercent", floatOrNull(r.pushDataAckPercent));
  o->set("pullDataSent", newJIntOrNull(r.pullDataSent));
  o->set("pullDataAckPercent", floatOrNull(r.pullDataAckPercent));
  o->set("pullRespReceived", newJIntOrNull(r.pullRespReceived));
  o->set("pullRespBytes", newJIntOrNull(r.pullRespBytes));
  o->set("rfSent", newJIntOrNull(r.rfSent));
  o->set("rfSentBytes", newJIntOrNull(r.rfSentBytes));
  o->set("txErrors", newJIntOrNull(r.txErrors));
  o->set("timeReference",
         gps.timeReference ? newJString(timeReferenceText(*gps.timeReference)) : newJNull());
  o->set("timeReferenceAgeSeconds", newJIntOrNull(gps.timeReferenceAge));
  if (gps.gps) {
    JsonNodePtr position = newJObject();
    position->set("latitude", newJFloat(gps.gps->latitude));
    position->set("longitude", newJFloat(gps.gps->longitude));
    position->set("altitude", newJFloat(gps.gps->altitude));
    position->set("source", newJString(gps.gps->source));
    o->set("gps", std::move(position));
  } else {
    o->set("gps", newJNull());
  }
  return o;
}

// The numbers the chart draws: a compact point per report, as an hour holds over a hundred.
JsonNodePtr seriesPointJson(const LinkReport& r) {
  JsonNodePtr o = newJObject();
  o->set("time", newJString(formatIsoUtc(r.time)));
  o->set("rfReceived", newJIntOrNull(r.rfReceived));
  o->set("rfForwarded", newJIntOrNull(r.rfForwarded));
  o->set("pushDataSent", newJIntOrNull(r.pushDataSent));
  o->set("pushDataAckPercent", floatOrNull(r.pushDataAckPercent));
  o->set("pullDataAckPercent", floatOrNull(r.pullDataAckPercent));
  o->set("pullDataSent", newJIntOrNull(r.pullDataSent));
  return o;
}

JsonNodePtr checkJson(const VerdictCheck& check) {
  JsonNodePtr o = newJObject();
  o->set("name", newJString(check.name));
  o->set("level", newJString(levelName(check.level)));
  o->set("text", newJString(check.text));
  return o;
}

}  // namespace

JsonNodePtr unitStatusJson(const UnitStatus& unit) {
  JsonNodePtr o = newJObject();
  o->set("unit", newJString(unit.unit));
  o->set("loadState", newJString(unit.loadState));
  o->set("activeState", newJString(unit.activeState));
  o->set("subState", newJString(unit.subState));
  o->set("result", textOrNull(unit.result));
  o->set("unitFileState", textOrNull(unit.unitFileState));
  o->set("since", timeOrNull(unit.activeSince));
  o->set("stateChangedAt", timeOrNull(unit.stateChangedAt));
  o->set("restarts", newJIntOrNull(unit.restarts));
  o->set("mainPid", newJIntOrNull(unit.mainPid));
  return o;
}

JsonNodePtr systemFactsJson(const SystemFacts& facts, std::optional<bool> clockSynchronized) {
  JsonNodePtr o = newJObject();
  o->set("hostname", newJString(facts.hostname));
  o->set("os", textOrNull(facts.os));
  o->set("kernel", newJString(facts.kernel));
  o->set("uptimeSeconds", newJIntOrNull(facts.uptimeSeconds));
  if (facts.load) {
    JsonNodePtr load = newJArray();
    for (const double l : *facts.load)
      load->add(newJFloat(l));
    o->set("load", std::move(load));
  } else {
    o->set("load", newJNull());
  }
  JsonNodePtr memory = newJObject();
  memory->set("totalBytes", newJIntOrNull(facts.memoryTotalBytes));
  memory->set("availableBytes", newJIntOrNull(facts.memoryAvailableBytes));
  o->set("memory", std::move(memory));
  if (facts.storage) {
    JsonNodePtr storage = newJObject();
    storage->set("path", newJString(facts.storage->path));
    storage->set("totalBytes", newJInt(static_cast<std::int64_t>(facts.storage->totalBytes)));
    storage->set("freeBytes", newJInt(static_cast<std::int64_t>(facts.storage->freeBytes)));
    o->set("storage", std::move(storage));
  } else {
    o->set("storage", newJNull());
  }
  JsonNodePtr interfaces = newJArray();
  for (const NetworkInterface& i : facts.interfaces) {
    JsonNodePtr entry = newJObject();
    entry->set("name", newJString(i.name));
    entry->set("addresses", stringArray(i.addresses));
    interfaces->add(std::move(entry));
  }
  o->set("interfaces", std::move(interfaces));
  o->set("clockSynchronized", clockSynchronized ? newJBool(*clockSynchronized) : newJNull());
  return o;
}

JsonNodePtr forwarderSummaryJson(const ForwarderSummary& s) {
  JsonNodePtr o = newJObject();
  o->set("gatewayId", textOrNull(s.gatewayId));
  o->set("serverAddress", textOrNull(s.serverAddress));
  o->set("serverPortUp", newJIntOrNull(s.serverPortUp));
  o->set("serverPortDown", newJIntOrNull(s.serverPortDown));
  o->set("layout", textOrNull(s.layout));
  o->set("plan", textOrNull(s.plan));
  o->set("sizeBytes", newJIntOrNull(s.sizeBytes));
  o->set("modified", timeOrNull(s.modified));
  o->set("hasComments", newJBool(s.hasComments));
  o->set("error", textOrNull(s.error));
  o->set("forwarder", s.forwarder ? forwarderReadingJson(*s.forwarder) : newJNull());
  o->set("sideFiles", s.forwarder ? sideFilesJson(s.forwarder->side) : newJNull());
  return o;
}

JsonNodePtr textNoteJson(const TextNote& note) {
  JsonNodePtr o = newJObject();
  o->set("line", newJInt(static_cast<std::int64_t>(note.line)));
  o->set("column", newJInt(static_cast<std::int64_t>(note.column)));
  o->set("message", newJString(note.message));
  return o;
}

JsonNodePtr textNotesJson(const std::vector<TextNote>& notes) {
  JsonNodePtr list = newJArray();
  for (const TextNote& note : notes)
    list->add(textNoteJson(note));
  return list;
}

JsonNodePtr forwarderReadingJson(const ForwarderView& view) {
  const ForwarderReading& r = view.reading;
  JsonNodePtr o = newJObject();
  o->set("reads", newJBool(r.document != nullptr));
  o->set("refusal", r.refusal ? textNoteJson(*r.refusal) : newJNull());
  o->set("ignoredTail", r.ignoredTail ? textNoteJson(*r.ignoredTail) : newJNull());
  o->set("quirks", textNotesJson(r.quirks));
  o->set("misread", stringArray(view.misread));
  return o;
}

JsonNodePtr sideFilesJson(const SideFiles& side) {
  JsonNodePtr o = newJObject();
  o->set("readInstead", textOrNull(side.readInstead));
  JsonNodePtr overrides = newJArray();
  for (const ConfigOverride& override : side.overrides) {
    JsonNodePtr item = newJObject();
    item->set("path", newJString(override.path));
    item->set("file", newJString(override.file));
    item->set("value", override.value ? copy(*override.value) : newJNull());
    overrides->add(std::move(item));
  }
  o->set("overrides", std::move(overrides));
  o->set("notes", stringArray(side.notes));
  return o;
}

JsonNodePtr linkHealthJson(const std::vector<LinkReport>& reports, const ReportAge& age) {
  if (reports.empty()) return newJNull();
  JsonNodePtr series = newJArray();
  for (const LinkReport& r : reports)
    series->add(seriesPointJson(r));
  const auto gps = std::find_if(reports.rbegin(), reports.rend(),
                                [](const LinkReport& r) { return r.gpsBlock; });
  JsonNodePtr o = newJObject();
  o->set("latest", latestReportJson(reports.back(), gps == reports.rend() ? reports.back() : *gps));
  o->set("series", std::move(series));
  o->set("statIntervalSeconds", newJInt(age.statIntervalSeconds));
  o->set("ageSeconds", newJIntOrNull(age.ageSeconds));
  o->set("stale", newJBool(age.stale));
  return o;
}

JsonNodePtr verdictJson(const GatewayVerdict& verdict) {
  JsonNodePtr o = newJObject();
  o->set("level", newJString(levelName(verdict.level)));
  o->set("text", newJString(verdict.text));
  o->set("since", timeOrNull(verdict.since));
  o->set("logsFrom", timeOrNull(verdict.logsFrom));
  if (verdict.change) {
    JsonNodePtr change = newJObject();
    change->set("version", newJInt(verdict.change->version));
    change->set("time", newJString(formatIsoUtc(verdict.change->time, true)));
    change->set("procedure", newJString(verdict.change->procedure));
    change->set("user", newJString(verdict.change->user));
    o->set("change", std::move(change));
  } else {
    o->set("change", newJNull());
  }
  JsonNodePtr checks = newJArray();
  for (const VerdictCheck& check : verdict.checks)
    checks->add(checkJson(check));
  o->set("checks", std::move(checks));
  return o;
}

JsonNodePtr journalEntryJson(const JournalEntry& entry) {
  JsonNodePtr o = newJObject();
  o->set("time", newJString(formatIsoUtc(entry.realtime, true)));
  o->set("priority", newJIntOrNull(entry.priority));
  o->set("message", newJString(entry.message));
  return o;
}

}  // namespace relaydash
