#include "api/audit/list.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "api/context.hpp"
#include "api/input.hpp"
#include "model/audit_log.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

struct ListRequest {
  int limit = kDefaultAuditPage;
  std::optional<std::int64_t> before;
};

ListRequest readListRequest(const JsonNode& body) {
  static const std::string limitMessage =
      "Field limit must be a whole number from 1 to " + std::to_string(kMaxAuditPage);
  const Input input(body, {"limit", "before"});
  ListRequest request;
  request.limit = static_cast<int>(
      input.whole("limit", {1, kMaxAuditPage, ErrorCode::InvalidLimit, limitMessage})
          .value_or(kDefaultAuditPage));
  request.before = input.whole(
      "before", {1, std::numeric_limits<std::int64_t>::max(), ErrorCode::InvalidId,
                 "Field before must be the id of an audit entry (a whole number from 1)"});
  return request;
}

JsonNodePtr auditRowJson(const AuditRow& row) {
  JsonNodePtr o = newJObject();
  o->set("id", newJInt(row.id));
  o->set("time", newJString(row.time));
  o->set("peer", newJString(row.peer));
  o->set("user", newJString(row.user));
  o->set("action", newJString(row.action));
  o->set("outcome", newJString(row.outcome));
  o->set("version", newJIntOrNull(row.version));
  o->set("count", newJInt(row.count));
  o->set("lastTime", newJString(row.lastTime));
  o->set("subject", row.subject.empty() ? newJNull() : newJString(row.subject));
  return o;
}

Task<JsonNodePtr> audit_list(Call& call) {
  Context& ctx = call.context;
  const ListRequest request = readListRequest(*call.body);
  // The rows of actions just taken are read too.
  ctx.audit.flush();
  // One row more than asked tells whether older ones follow.
  std::vector<AuditRow> rows =
      listAuditRows(ctx.database.connection(), request.limit + 1, request.before);
  const bool more = rows.size() > static_cast<std::size_t>(request.limit);
  if (more) rows.pop_back();

  JsonNodePtr entries = newJArray();
  for (const AuditRow& row : rows)
    entries->add(auditRowJson(row));
  JsonNodePtr output = newJObject();
  output->set("entries", std::move(entries));
  output->set("more", newJBool(more));
  co_return output;
}

constexpr std::array kProcedures{Procedure{"audit/list", audit_list}};

}  // namespace

std::span<const Procedure> auditProcedures() {
  return kProcedures;
}

}  // namespace relaydash
