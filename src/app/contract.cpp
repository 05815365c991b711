#include "app/contract.hpp"

#include <chrono>
#include <cstdint>
#include <string_view>

#include "api/account/initial_password.hpp"
#include "api/forwarder_config/forwarder_config.hpp"
#include "api/gateway/gateway.hpp"
#include "app/mounts.hpp"
#include "gateway/config_history.hpp"
#include "gateway/staged_texts.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"
#include "model/audit_log.hpp"
#include "model/metrics_key_name.hpp"
#include "model/metrics_keys.hpp"
#include "security/sign_in_throttle.hpp"
#include "security/token_keys.hpp"
#include "server/http_error.hpp"
#include "transport/limits.hpp"
#include "version.hpp"

namespace relaydash {
namespace {

void exportValue(std::string& out, std::string_view name, const JsonNode& value,
                 std::string_view meaning) {
  out += "// ";
  out += meaning;
  out += "\nexport const ";
  out += name;
  out += " = ";
  out += toCompact(value);
  out += ";\n";
}

void exportNumber(std::string& out, std::string_view name, std::int64_t value,
                  std::string_view meaning) {
  exportValue(out, name, *newJInt(value), meaning);
}

void exportCode(std::string& out, std::string_view name, ErrorCode code) {
  exportNumber(out, name, static_cast<int>(code), errorCodeMessage(code));
}

template <typename Duration>
std::int64_t millis(Duration duration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

}  // namespace

std::string contractModule() {
  std::string out =
      "// Written by the build from the server's own tables (src/app/contract.cpp); not to be\n"
      "// edited.\n";
  exportValue(out, "VERSION", *newJString(std::string(kVersion)), "The server's version.");

  JsonNodePtr procedures = newJObject();
  for (const Procedure& procedure : allProcedures()) {
    procedures->set(std::string(procedure.path),
                    newJString(procedure.access == Access::Open ? "open" : "signed-in"));
  }
  exportValue(out, "PROCEDURES", *procedures, "Every procedure, and who may call it.");

  JsonNodePtr errors = newJObject();
  for (int code = 10000; code < 30000; ++code) {
    const std::string_view message = errorCodeMessage(static_cast<ErrorCode>(code));
    if (!message.empty()) errors->set(std::to_string(code), newJString(std::string(message)));
  }
  exportValue(out, "ERRORS", *errors, "Every error code, and its message.");

  exportCode(out, "INVALID_PASSWORD", ErrorCode::InvalidPassword);
  exportCode(out, "INVALID_TOKEN", ErrorCode::InvalidAuthToken);
  exportCode(out, "PASSWORD_MISMATCH", ErrorCode::PasswordMismatch);
  exportCode(out, "STALE", ErrorCode::StaleBase);
  exportCode(out, "OUT_OF_BAND", ErrorCode::OutOfBand);
  exportCode(out, "NOT_RECEIVABLE", ErrorCode::PlanNotReceivable);
  exportCode(out, "EXPIRED_TOKEN", ErrorCode::ExpiredAuthToken);
  exportCode(out, "INSUFFICIENT_RIGHTS", ErrorCode::InsufficientAccessRight);
  exportCode(out, "BUSY", ErrorCode::SessionAlreadyEstablished);
  exportCode(out, "METRICS_KEY_NAME_TAKEN", ErrorCode::DuplicatedMetricsKeyName);
  exportCode(out, "TOO_MANY_METRICS_KEYS", ErrorCode::ExceedMaxMetricsKeys);

  exportNumber(out, "MAX_REQUEST_BYTES", limits::kMaxRequestBody,
               "The longest request body the server reads.");
  exportNumber(out, "UPLOAD_ID_DIGITS", StagedTexts::kIdDigits,
               "An upload's id, in hexadecimal digits.");
  exportNumber(out, "MAX_UPLOAD_BYTES", StagedTexts::kMaxBytes,
               "The most a text sent in pieces may hold.");
  exportNumber(out, "DEFAULT_SETTLE_SECONDS", kDefaultSettleSeconds,
               "The watch after a change, unless the change asks for another.");
  exportNumber(out, "MAX_SETTLE_SECONDS", kMaxSettleSeconds,
               "The longest watch a change may ask for.");
  exportValue(out, "FACTORY_PASSWORD", *newJString(std::string(kAdminInitialPassword)),
              "The administrator's password on a gateway without an initial password file.");
  exportNumber(out, "TOKEN_LIFETIME_HOURS", TokenKeys::kLifetime.count(),
               "How long a sign-in lasts.");
  exportNumber(out, "FAILURES_BEFORE_SLOW", SignInThrottle::kFailuresBeforeHold,
               "Failed sign-ins from one address before its next ones are held...");
  exportNumber(out, "FAILURE_WINDOW_MS", millis(SignInThrottle::kFailureWindow),
               "... within this time...");
  exportNumber(out, "SIGN_IN_HOLD_MS", millis(SignInThrottle::kHold), "... for this long.");
  exportNumber(out, "MAX_LOG_LINES", kMaxLines, "The most journal entries of one answer.");
  exportNumber(out, "MAX_SCANNED_LINES", kMaxScanned,
               "The most journal entries read to find a phrase.");
  exportNumber(out, "HISTORY_VERSIONS_KEPT", ConfigHistory::kKept,
               "Versions of the configuration the history keeps.");
  exportNumber(out, "AUDIT_ROWS_KEPT", kAuditRowsKept, "Rows the audit trail keeps.");
  exportNumber(out, "MAX_METRICS_KEYS", MetricsKeys::kMaxValid, "Metrics keys in use at once.");
  exportNumber(out, "MAX_METRICS_KEY_NAME_BYTES", kMaxMetricsKeyNameBytes,
               "The longest name of a metrics key, in bytes.");
  return out;
}

}  // namespace relaydash
