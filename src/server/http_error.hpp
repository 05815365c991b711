#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace relaydash {

// The numbered error codes that JSON error bodies carry. Thousands group them: 10xxx general,
// 21xxx malformed request, 22xxx not found, 23xxx invalid value, 24xxx mismatch, 25xxx limit
// exceeded, 26xxx duplicate, 27xxx stale credential, 28xxx access denied.
enum class ErrorCode : int {
  UnspecifiedError = 10000,
  InternalError = 10001,
  NotImplemented = 10002,
  GetMethodRequired = 21010,
  PostMethodRequired = 21011,
  PutMethodRequired = 21012,
  PatchMethodRequired = 21013,
  DeleteMethodRequired = 21014,
  MissingQuery = 21022,
  MissingHeader = 21023,
  MissingBody = 21024,
  MissingField = 21031,
  Unknown = 22000,
  UnknownPath = 22001,
  UnknownId = 22002,
  UnknownDataSourceKind = 22003,
  UnknownUsername = 22004,
  UnknownAccountRole = 22005,
  UnknownOwnerToken = 22006,
  UnknownField = 22007,
  UnknownFormat = 22008,
  UnknownRequester = 22009,
  UnknownPlan = 22010,
  UnknownMetricsKey = 22011,
  Invalid = 23000,
  InvalidFormat = 23001,
  InvalidJsonFormat = 23002,
  InvalidDataSourceKind = 23003,
  InvalidTimeFormat = 23004,
  InvalidNonce = 23005,
  InvalidMessageSize = 23006,
  InvalidLimit = 23007,
  InvalidId = 23008,
  InvalidPassword = 23009,
  InvalidAuthToken = 23010,
  InvalidAccountId = 23011,
  InvalidUsername = 23012,
  InvalidEventPin = 23013,
  InvalidFilter = 23014,
  UnreadableByForwarder = 23015,
  MisreadByForwarder = 23016,
  SetInSideFile = 23017,
  PlanNotReceivable = 23018,
  OutOfBand = 23019,
  InvalidMetricsKey = 23020,
  InvalidMetricsKeyName = 23021,
  Mismatch = 24000,
  ChecksumsMismatch = 24001,
  MacMismatch = 24002,
  MessageSizesMismatch = 24003,
  PasswordMismatch = 24004,
  StaleBase = 24005,
  ExceedLimit = 25000,
  ExceedMaxItems = 25001,
  ExceedMaxSubscriptions = 25002,
  ExceedMaxConnections = 25003,
  ExceedMaxMetricsKeys = 25004,
  Duplicated = 26000,
  DuplicatedUsername = 26001,
  DuplicatedMetricsKeyName = 26002,
  OldPassword = 27001,
  ExpiredAuthToken = 27002,
  Forbidden = 28000,
  PrivilegedAccountOnly = 28001,
  InsufficientAccessRight = 28002,
  SessionAlreadyEstablished = 28003,
  CrossSiteRequest = 28004,
  UnknownHost = 28005,
};

// The catalogue message of a code ("Unknown path"); empty for a value outside the catalogue.
std::string_view errorCodeMessage(ErrorCode code) noexcept;

// An error that asks for a particular HTTP answer: the status, the catalogue code and the
// message for the JSON error body. The error's own message (what()) may differ from it.
class HttpException : public std::runtime_error {
 public:
  HttpException(int httpCode, ErrorCode errorCode, std::string errorMessage,
                const std::string& message);

  int httpCode() const noexcept { return httpCode_; }
  ErrorCode errorCode() const noexcept { return errorCode_; }
  const std::string& errorMessage() const noexcept { return errorMessage_; }

  // More members for the JSON error object, after "code" and "message": an object, or null for
  // none (every error of the original procedures).
  const JsonNodePtr& details() const noexcept { return details_; }
  void setDetails(JsonNodePtr details) { details_ = std::move(details); }

 private:
  int httpCode_;
  ErrorCode errorCode_;
  std::string errorMessage_;
  JsonNodePtr details_;
};

// errorMessage defaults to the code's catalogue message; the error's own message is msg when
// given, otherwise the errorMessage argument as passed (possibly empty).
HttpException newHttpException(int httpCode, ErrorCode errorCode,
                               std::string_view errorMessage = {}, std::string_view msg = {});
[[noreturn]] void raiseHttpException(int httpCode, ErrorCode errorCode,
                                     std::string_view errorMessage = {}, std::string_view msg = {});

// The JSON error body {"error":{"code":…,"message":…}}, with the exception's details after them.
JsonNodePtr newJsonError(const HttpException& exception);
JsonNodePtr newJsonError(ErrorCode code);

}  // namespace relaydash
