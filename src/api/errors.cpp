#include "api/errors.hpp"

#include <string>

#include "gateway/command.hpp"
#include "gateway/service_control.hpp"
#include "gateway/staged_texts.hpp"
#include "model/account_model.hpp"
#include "model/metrics_keys.hpp"

namespace relaydash {

std::optional<HttpException> commonAnswer(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const UserNotFoundError&) {
    return newHttpException(400, ErrorCode::PasswordMismatch);
  } catch (const HashNotMatchError&) {
    return newHttpException(400, ErrorCode::PasswordMismatch);
  } catch (const CommandTimedOut& e) {
    // One that failed instead answers as any other unexpected error.
    return newHttpException(500, ErrorCode::InternalError, e.what());
  } catch (...) {
    return std::nullopt;
  }
}

void raiseDomainAnswer(const std::exception_ptr& error) {
  if (std::optional<HttpException> answer = commonAnswer(error)) throw *answer;
  try {
    std::rethrow_exception(error);
  } catch (const CommandError& e) {
    raiseHttpException(500, ErrorCode::InternalError, e.what());
  } catch (const StagingError& e) {
    switch (e.kind()) {
      case StagingError::Kind::UnknownId:
        raiseHttpException(404, ErrorCode::UnknownId);
      case StagingError::Kind::WrongOffset:
        raiseHttpException(400, ErrorCode::Invalid, std::string("Wrong offset: ") + e.what());
      case StagingError::Kind::TooLarge:
        raiseHttpException(400, ErrorCode::ExceedLimit, std::string("Too large: ") + e.what());
    }
    throw;
  } catch (const MetricsKeyError& e) {
    switch (e.kind()) {
      case MetricsKeyError::Kind::UnknownId:
        raiseHttpException(404, ErrorCode::UnknownMetricsKey, e.what());
      case MetricsKeyError::Kind::BadName:
        raiseHttpException(400, ErrorCode::InvalidMetricsKeyName, e.what());
      case MetricsKeyError::Kind::TooMany:
        raiseHttpException(409, ErrorCode::ExceedMaxMetricsKeys, e.what());
      case MetricsKeyError::Kind::DuplicateName:
        raiseHttpException(409, ErrorCode::DuplicatedMetricsKeyName, e.what());
    }
    throw;
  }
}

RefusalAnswer refusalAnswer(ChangeResult result) {
  switch (result) {
    case ChangeResult::Busy:
      return {409, ErrorCode::SessionAlreadyEstablished};
    case ChangeResult::Invalid:
      return {400, ErrorCode::Invalid};
    case ChangeResult::Unparsable:
      return {409, ErrorCode::InvalidJsonFormat};
    case ChangeResult::Changed:
      return {409, ErrorCode::Mismatch};
    case ChangeResult::Unreadable:
      return {400, ErrorCode::UnreadableByForwarder};
    case ChangeResult::Misread:
      return {400, ErrorCode::MisreadByForwarder};
    case ChangeResult::Overridden:
      return {400, ErrorCode::SetInSideFile};
    case ChangeResult::Stale:
      return {409, ErrorCode::StaleBase};
    case ChangeResult::NotReceivable:
      return {400, ErrorCode::PlanNotReceivable};
    case ChangeResult::OutOfBand:
      return {400, ErrorCode::OutOfBand};
    case ChangeResult::RolledBack:
      return {422, ErrorCode::Invalid};
    case ChangeResult::RollbackFailed:
    case ChangeResult::Applied:
    case ChangeResult::Failed:
      break;
  }
  return {500, ErrorCode::InternalError};
}

}  // namespace relaydash
