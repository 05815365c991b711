#include "api/metrics_keys/metrics_keys.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "api/context.hpp"
#include "api/input.hpp"
#include "gateway/time_text.hpp"
#include "model/metrics_keys.hpp"

namespace relaydash {
namespace {

std::int64_t now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Times as the audit trail gives them: ISO-8601 UTC with milliseconds.
JsonNodePtr timeJson(std::int64_t microseconds) {
  return newJString(formatIsoUtc(microseconds, true));
}

JsonNodePtr timeJson(const std::optional<std::int64_t>& microseconds) {
  return microseconds ? timeJson(*microseconds) : newJNull();
}

Task<JsonNodePtr> metrics_keys_create(Call& call) {
  const Input input(*call.body, {"name"});
  const std::string name = input.requiredText("name");
  call.audit.about(name);
  call.audit.attempt();
  const NewMetricsKey made = call.context.metricsKeys.create(name, now());
  call.audit.about(made.name);
  JsonNodePtr output = newJObject();
  output->set("id", newJInt(made.id));
  output->set("name", newJString(made.name));
  output->set("key", newJString(made.key));
  output->set("createdAt", timeJson(made.createdAt));
  co_return output;
}

Task<JsonNodePtr> metrics_keys_list(Call& call) {
  const Input input(*call.body, {});
  JsonNodePtr keys = newJArray();
  for (const MetricsKeyRow& row : call.context.metricsKeys.list()) {
    JsonNodePtr key = newJObject();
    key->set("id", newJInt(row.id));
    key->set("name", newJString(row.name));
    key->set("createdAt", timeJson(row.createdAt));
    key->set("revokedAt", timeJson(row.revokedAt));
    key->set("lastUsedAt", timeJson(row.lastUsedAt));
    keys->add(std::move(key));
  }
  JsonNodePtr output = newJObject();
  output->set("keys", std::move(keys));
  co_return output;
}

Task<JsonNodePtr> metrics_keys_revoke(Call& call) {
  const Input input(*call.body, {"id"});
  const std::int64_t id = input.requiredWhole(
      "id", {1, std::numeric_limits<std::int64_t>::max(), ErrorCode::InvalidId,
             "Field id must be the id of a metrics key (a whole number from 1)"});
  call.audit.attempt();
  call.audit.about(call.context.metricsKeys.revoke(id, now()));
  co_return newJObject();
}

constexpr std::array kProcedures{
    Procedure{"metrics-keys/create", metrics_keys_create, Access::SignedIn, kAuditMetricsKeyCreate,
              AuditFrom::Attempt},
    Procedure{"metrics-keys/list", metrics_keys_list},
    Procedure{"metrics-keys/revoke", metrics_keys_revoke, Access::SignedIn, kAuditMetricsKeyRevoke,
              AuditFrom::Attempt},
};

}  // namespace

std::span<const Procedure> metricsKeysProcedures() {
  return kProcedures;
}

}  // namespace relaydash
