// gateway/logs: the journal of the forwarder's unit or of SSH's, and nothing else: the names the
// client may give are mapped to unit names here, so no text of the request becomes a unit name.
// A time range and a priority go to journalctl; a phrase is looked for here, while journalctl's
// output is read (its --grep is not built into every journalctl), so no more than the entries
// answered are ever held.
#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/context.hpp"
#include "api/gateway/gateway.hpp"
#include "api/gateway/gateway_json.hpp"
#include "api/gateway/units.hpp"
#include "api/input.hpp"
#include "gateway/phrase_match.hpp"
#include "gateway/time_text.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;

constexpr int kDefaultLines = 200;
constexpr std::size_t kMaxPhrase = 200;  // characters
// Reading kMaxScanned entries takes a few seconds on a small board.
constexpr auto kScanTimeout = 30s;

struct LogsRequest {
  std::string unit;
  int lines = kDefaultLines;
  std::optional<std::string> after;
  std::optional<IsoUtcTime> since;
  std::optional<IsoUtcTime> until;
  std::optional<int> priority;
  std::optional<PhraseMatch> match;
};

// Characters of UTF-8 text: every byte but those that continue a character.
std::size_t characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::optional<IsoUtcTime> timeMember(const Input& input, std::string_view name) {
  const JsonNodePtr value = input.get(name);
  if (!value) return std::nullopt;
  std::optional<IsoUtcTime> time;
  if (value->isString() && !value->isRawNumber()) time = parseIsoUtc(value->getString());
  if (!time) {
    raiseHttpException(400, ErrorCode::InvalidTimeFormat,
                       "Field " + std::string(name) +
                           " must be an ISO-8601 UTC time such as 2026-12-09T21:05:00Z");
  }
  return time;
}

LogsRequest readRequest(const Context& ctx, const JsonNode& body) {
  const Input input(body, {"unit", "lines", "after", "since", "until", "priority", "match"});
  LogsRequest request;
  const std::string unit = input.text("unit").value_or("forwarder");
  if (unit != "forwarder" && unit != "ssh")
    raiseHttpException(400, ErrorCode::InvalidFormat,
                       "Field unit must be \"forwarder\" or \"ssh\"");
  const std::string lines = std::to_string(kMaxLines);
  request.lines = static_cast<int>(
      input
          .whole("lines", {1, kMaxLines, ErrorCode::InvalidLimit,
                           "Field lines must be a whole number from 1 to " + lines})
          .value_or(kDefaultLines));
  if (const JsonNodePtr value = input.get("after")) {
    if (!value->isString() || value->isRawNumber() || !isJournalCursor(value->getString()))
      raiseHttpException(400, ErrorCode::InvalidFormat, "Field after is not a journal cursor");
    request.after = value->getString();
  }
  request.since = timeMember(input, "since");
  request.until = timeMember(input, "until");
  if (request.since && request.until && request.until->end < request.since->start)
    raiseHttpException(400, ErrorCode::InvalidLimit, "Field until must not be before since");
  if (const std::optional<std::int64_t> priority = input.whole(
          "priority", {0, 7, ErrorCode::InvalidLimit,
                       "Field priority must be a whole number from 0 (emerg) to 7 (debug)"})) {
    request.priority = static_cast<int>(*priority);
  }
  if (const std::optional<std::string> match = input.text("match")) {
    const std::size_t length = characters(*match);
    if (length < 1 || length > kMaxPhrase) {
      raiseHttpException(
          400, ErrorCode::InvalidLimit,
          "Field match must be a phrase of 1 to " + std::to_string(kMaxPhrase) + " characters");
    }
    request.match.emplace(*match);
  }
  request.unit = unitFor(ctx, unit);
  return request;
}

// What a read of the journal gives the client.
struct LogsAnswer {
  std::vector<JournalEntry> entries;  // oldest first
  std::optional<std::string> cursor;  // the newest entry read, matching or not
  bool more = false;
};

JournalQuery queryFor(const LogsRequest& request) {
  JournalQuery query;
  query.unit = request.unit;
  query.afterCursor = request.after;
  if (request.since) query.since = journalTime(request.since->start);
  if (request.until) query.until = journalTime(request.until->end);
  query.priority = request.priority;
  if (request.match) query.limits.timeout = kScanTimeout;
  return query;
}

// From a cursor on, oldest first: the first `lines` entries that match. The answer ends where
// the reading stopped, so that the next question goes on from there.
Task<LogsAnswer> readOnward(const LogsRequest& request) {
  JournalQuery query = queryFor(request);
  query.lines = request.match ? kMaxScanned : request.lines;
  LogsAnswer answer;
  co_await scanJournal(std::move(query), [&](JournalEntry&& entry) {
    answer.cursor = entry.cursor;
    if (request.match && !request.match->foundIn(entry.message)) return true;
    answer.entries.push_back(std::move(entry));
    return answer.entries.size() < static_cast<std::size_t>(request.lines);
  });
  if (!answer.cursor) answer.cursor = request.after;
  co_return answer;
}

// The newest `lines` entries that match, read newest first: one more match than asked for, or
// an entry past the bound of the search, says that older ones may come before them.
Task<LogsAnswer> readNewest(const LogsRequest& request) {
  JournalQuery query = queryFor(request);
  query.newestFirst = true;
  query.lines = (request.match ? kMaxScanned : request.lines) + 1;
  LogsAnswer answer;
  int read = 0;
  co_await scanJournal(std::move(query), [&](JournalEntry&& entry) {
    if (++read > kMaxScanned) {
      answer.more = true;  // left unexamined
      return false;
    }
    if (!answer.cursor) answer.cursor = entry.cursor;
    if (request.match && !request.match->foundIn(entry.message)) return true;
    if (answer.entries.size() == static_cast<std::size_t>(request.lines)) {
      answer.more = true;
      return false;
    }
    answer.entries.push_back(std::move(entry));
    return true;
  });
  std::reverse(answer.entries.begin(), answer.entries.end());
  co_return answer;
}

}  // namespace

Task<JsonNodePtr> gateway_logs(Call& call) {
  const LogsRequest request = readRequest(call.context, *call.body);
  const Slots::Permit turn = co_await call.context.gatewayReads.take();
  // Not a conditional expression: g++ 12 destroys a co_await's result twice in one.
  LogsAnswer read;
  if (request.after) {
    read = co_await readOnward(request);
  } else {
    read = co_await readNewest(request);
  }

  JsonNodePtr list = newJArray();
  for (const JournalEntry& entry : read.entries) {
    JsonNodePtr item = journalEntryJson(entry);
    item->set("cursor", newJString(entry.cursor));
    list->add(std::move(item));
  }
  JsonNodePtr output = newJObject();
  output->set("entries", std::move(list));
  // With nothing new, the cursor stays where the client was: it asks again from there.
  output->set("cursor", read.cursor ? newJString(*read.cursor) : newJNull());
  output->set("more", newJBool(read.more));
  co_return output;
}

}  // namespace relaydash
