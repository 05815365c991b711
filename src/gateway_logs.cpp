// gateway/logs: the journal of the forwarder's unit or of SSH's, and nothing else: the names the
// client may give are mapped to unit names here, so no text of the request becomes a unit name.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctx.hpp"
#include "gateway_json.hpp"
#include "route.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

constexpr int kDefaultLines = 200;
constexpr int kMaxLines = 2000;
constexpr std::array<std::string_view, 3> kMembers{"unit", "lines", "after"};

struct LogsRequest {
  std::string unit;
  int lines = kDefaultLines;
  std::optional<std::string> after;
};

// The systemd unit behind a name the client may use.
std::string unitFor(const Context& ctx, std::string_view name) {
  if (name == "ssh") return std::string(kSshUnit);
  if (ctx.forwarderUnitServiceName.empty()) {
    raiseHttpException(400, ErrorCode::Invalid,
                       "The forwarder is not run as a systemd unit here "
                       "(--forwarderUnitServiceName is empty), so it has no journal to read");
  }
  return ctx.forwarderUnitServiceName;
}

LogsRequest readRequest(const Context& ctx, const JsonNode& body) {
  LogsRequest request;
  const JsonNodePtr input = body.get("input");
  if (input && !input->isObject()) {
    raiseHttpException(400, ErrorCode::InvalidFormat, "Field input is not an object");
  }
  const JsonNodePtr none = newJObject();
  const JsonNode& arguments = input ? *input : *none;
  for (const auto& member : arguments.object()) {
    if (std::find(kMembers.begin(), kMembers.end(), member.key) == kMembers.end()) {
      raiseHttpException(400, ErrorCode::UnknownField, "Unknown field " + member.key);
    }
  }

  std::string_view unit = "forwarder";
  if (const JsonNodePtr value = arguments.get("unit")) {
    if (!value->isString() || value->isRawNumber()) {
      raiseHttpException(400, ErrorCode::InvalidFormat, "Field unit is not a string");
    }
    unit = value->getString();
    if (unit != "forwarder" && unit != "ssh") {
      raiseHttpException(400, ErrorCode::InvalidFormat,
                         "Field unit must be \"forwarder\" or \"ssh\"");
    }
  }
  if (const JsonNodePtr value = arguments.get("lines")) {
    if (!value->isInt() || value->getInt() < 1 || value->getInt() > kMaxLines) {
      raiseHttpException(
          400, ErrorCode::InvalidLimit,
          "Field lines must be a whole number from 1 to " + std::to_string(kMaxLines));
    }
    request.lines = static_cast<int>(value->getInt());
  }
  if (const JsonNodePtr value = arguments.get("after"); value && !value->isNull()) {
    if (!value->isString() || !isJournalCursor(value->getString())) {
      raiseHttpException(400, ErrorCode::InvalidFormat, "Field after is not a journal cursor");
    }
    request.after = value->getString();
  }
  request.unit = unitFor(ctx, unit);
  return request;
}

}  // namespace

Task<JsonNodePtr> gateway_logs(Session& session, JsonNodePtr body) {
  LogsRequest request = readRequest(session.context, *body);
  JournalQuery query;
  query.unit = request.unit;
  query.lines = request.lines;
  query.afterCursor = request.after;
  std::vector<JournalEntry> entries;
  try {
    entries = co_await readJournal(std::move(query));
  } catch (const CommandError& e) {
    raiseCommandFailure(e);
  }

  JsonNodePtr list = newJArray();
  for (const JournalEntry& entry : entries)
    list->add(journalEntryJson(entry));
  // With nothing new, the cursor stays where the client was: it asks again from there.
  JsonNodePtr cursor = !entries.empty() ? newJString(entries.back().cursor)
                       : request.after  ? newJString(*request.after)
                                        : newJNull();
  JsonNodePtr output = newJObject();
  output->set("entries", std::move(list));
  output->set("cursor", std::move(cursor));
  co_return answer(std::move(output));
}

}  // namespace relaydash
