#include "server/http_error.hpp"

#include <algorithm>
#include <array>

namespace relaydash {
namespace {

struct CatalogueRow {
  ErrorCode code;
  std::string_view message;
};

constexpr std::array kCatalogue = {
    CatalogueRow{ErrorCode::UnspecifiedError, "Unspecified error"},
    CatalogueRow{ErrorCode::InternalError, "Internal error"},
    CatalogueRow{ErrorCode::NotImplemented, "Not implemented"},
    CatalogueRow{ErrorCode::GetMethodRequired, "GET method is required"},
    CatalogueRow{ErrorCode::PostMethodRequired, "POST method is required"},
    CatalogueRow{ErrorCode::PutMethodRequired, "PUT method is required"},
    CatalogueRow{ErrorCode::PatchMethodRequired, "PATCH method is required"},
    CatalogueRow{ErrorCode::DeleteMethodRequired, "DELETE method is required"},
    CatalogueRow{ErrorCode::MissingQuery, "Missing query"},
    CatalogueRow{ErrorCode::MissingHeader, "Missing header"},
    CatalogueRow{ErrorCode::MissingBody, "Missing body"},
    CatalogueRow{ErrorCode::MissingField, "Missing field"},
    CatalogueRow{ErrorCode::Unknown, "Unknown"},
    CatalogueRow{ErrorCode::UnknownPath, "Unknown path"},
    CatalogueRow{ErrorCode::UnknownId, "Unknown ID"},
    CatalogueRow{ErrorCode::UnknownDataSourceKind, "Unknown data source kind"},
    CatalogueRow{ErrorCode::UnknownUsername, "Unknown username"},
    CatalogueRow{ErrorCode::UnknownAccountRole, "Unknown account role"},
    CatalogueRow{ErrorCode::UnknownOwnerToken, "Unknown owner token"},
    CatalogueRow{ErrorCode::UnknownField, "Unknown field"},
    CatalogueRow{ErrorCode::UnknownFormat, "Unknown format"},
    CatalogueRow{ErrorCode::UnknownRequester, "Unknown requester"},
    CatalogueRow{ErrorCode::UnknownPlan, "Unknown frequency plan"},
    CatalogueRow{ErrorCode::UnknownMetricsKey, "Unknown metrics key"},
    CatalogueRow{ErrorCode::Invalid, "Invalid"},
    CatalogueRow{ErrorCode::InvalidFormat, "Invalid format"},
    CatalogueRow{ErrorCode::InvalidJsonFormat, "Invalid JSON format"},
    CatalogueRow{ErrorCode::InvalidDataSourceKind, "Invalid data source kind"},
    CatalogueRow{ErrorCode::InvalidTimeFormat,
                 "Invalid time format. Time must be in form of 2006-01-02T03:04:05.000Z"},
    CatalogueRow{ErrorCode::InvalidNonce, "Invalid nonce"},
    CatalogueRow{ErrorCode::InvalidMessageSize, "Invalid message size"},
    CatalogueRow{ErrorCode::InvalidLimit, "Invalid limit"},
    CatalogueRow{ErrorCode::InvalidId, "Invalid ID"},
    CatalogueRow{ErrorCode::InvalidPassword, "Invalid password"},
    CatalogueRow{ErrorCode::InvalidAuthToken, "Invalid auth token"},
    CatalogueRow{ErrorCode::InvalidAccountId, "Invalid account ID"},
    CatalogueRow{ErrorCode::InvalidUsername, "Invalid username"},
    CatalogueRow{ErrorCode::InvalidEventPin, "Invalid eventPin"},
    CatalogueRow{ErrorCode::InvalidFilter, "Invalid filter"},
    CatalogueRow{ErrorCode::UnreadableByForwarder, "The forwarder could not read it"},
    CatalogueRow{ErrorCode::MisreadByForwarder, "The forwarder would read it otherwise"},
    CatalogueRow{ErrorCode::SetInSideFile, "Set in another file the forwarder reads"},
    CatalogueRow{ErrorCode::PlanNotReceivable, "The radios cannot receive this plan"},
    CatalogueRow{ErrorCode::OutOfBand, "Outside the band"},
    CatalogueRow{ErrorCode::InvalidMetricsKey, "Invalid metrics key"},
    CatalogueRow{ErrorCode::InvalidMetricsKeyName, "Invalid metrics key name"},
    CatalogueRow{ErrorCode::Mismatch, "Mismatch"},
    CatalogueRow{ErrorCode::ChecksumsMismatch, "Checksums mismatch"},
    CatalogueRow{ErrorCode::MacMismatch, "Message Authentication Codes mismatch"},
    CatalogueRow{ErrorCode::MessageSizesMismatch, "Message sizes mismatch"},
    CatalogueRow{ErrorCode::PasswordMismatch, "Password mismatch"},
    CatalogueRow{ErrorCode::StaleBase, "Changed since it was read"},
    CatalogueRow{ErrorCode::ExceedLimit, "Exceed limit"},
    CatalogueRow{ErrorCode::ExceedMaxItems, "Exceed maximum number of items"},
    CatalogueRow{ErrorCode::ExceedMaxSubscriptions, "Exceed maximum number of subscriptions"},
    CatalogueRow{ErrorCode::ExceedMaxConnections, "Exceed maximum number of connections"},
    CatalogueRow{ErrorCode::ExceedMaxMetricsKeys, "Exceed maximum number of metrics keys"},
    CatalogueRow{ErrorCode::Duplicated, "Duplicated"},
    CatalogueRow{ErrorCode::DuplicatedUsername, "Duplicated username"},
    CatalogueRow{ErrorCode::DuplicatedMetricsKeyName, "Duplicated metrics key name"},
    CatalogueRow{ErrorCode::OldPassword, "Old password"},
    CatalogueRow{ErrorCode::ExpiredAuthToken, "Expired auth token"},
    CatalogueRow{ErrorCode::Forbidden, "Forbidden"},
    CatalogueRow{ErrorCode::PrivilegedAccountOnly, "Privileged account only"},
    CatalogueRow{ErrorCode::InsufficientAccessRight, "Insufficient access right"},
    CatalogueRow{ErrorCode::SessionAlreadyEstablished, "Another session has already established"},
    CatalogueRow{ErrorCode::CrossSiteRequest, "Request from another site's page"},
    CatalogueRow{ErrorCode::UnknownHost, "Unknown host name"},
};

static_assert(kCatalogue.size() == 68, "the catalogue has 68 codes");
static_assert(std::is_sorted(kCatalogue.begin(), kCatalogue.end(),
                             [](const CatalogueRow& a, const CatalogueRow& b) {
                               return a.code < b.code;
                             }),
              "the catalogue is sorted by code, so lookups can search it");

}  // namespace

std::string_view errorCodeMessage(ErrorCode code) noexcept {
  const auto row = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), code,
                                    [](const CatalogueRow& r, ErrorCode c) { return r.code < c; });
  return row != kCatalogue.end() && row->code == code ? row->message : std::string_view();
}

HttpException::HttpException(int httpCode, ErrorCode errorCode, std::string errorMessage,
                             const std::string& message)
    : std::runtime_error(message),
      httpCode_(httpCode),
      errorCode_(errorCode),
      errorMessage_(std::move(errorMessage)) {}

HttpException newHttpException(int httpCode, ErrorCode errorCode, std::string_view errorMessage,
                               std::string_view msg) {
  std::string bodyMessage(errorMessage.empty() ? errorCodeMessage(errorCode) : errorMessage);
  return HttpException(httpCode, errorCode, std::move(bodyMessage),
                       std::string(msg.empty() ? errorMessage : msg));
}

void raiseHttpException(int httpCode, ErrorCode errorCode, std::string_view errorMessage,
                        std::string_view msg) {
  throw newHttpException(httpCode, errorCode, errorMessage, msg);
}

namespace {

JsonNodePtr jsonError(ErrorCode code, std::string message) {
  auto inner = newJObject();
  inner->set("code", newJInt(static_cast<std::int64_t>(code)));
  inner->set("message", newJString(std::move(message)));
  auto body = newJObject();
  body->set("error", std::move(inner));
  return body;
}

}  // namespace

JsonNodePtr newJsonError(const HttpException& exception) {
  JsonNodePtr body = jsonError(exception.errorCode(), exception.errorMessage());
  if (const JsonNodePtr& details = exception.details(); details && details->isObject()) {
    JsonNode& inner = *body->at("error");
    for (const auto& member : details->object())
      inner.set(member.key, member.value);
  }
  return body;
}

JsonNodePtr newJsonError(ErrorCode code) {
  return jsonError(code, std::string(errorCodeMessage(code)));
}

}  // namespace relaydash
