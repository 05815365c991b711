#include "server/http_error.hpp"

#include <gtest/gtest.h>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "server/http_json.hpp"

namespace relaydash {
namespace {

TEST(HttpError, CatalogueSpotChecks) {
  EXPECT_EQ(errorCodeMessage(ErrorCode::UnspecifiedError), "Unspecified error");
  EXPECT_EQ(errorCodeMessage(ErrorCode::InvalidTimeFormat),
            "Invalid time format. Time must be in form of 2006-01-02T03:04:05.000Z");
  EXPECT_EQ(errorCodeMessage(ErrorCode::MacMismatch), "Message Authentication Codes mismatch");
  EXPECT_EQ(errorCodeMessage(ErrorCode::SessionAlreadyEstablished),
            "Another session has already established");
  EXPECT_EQ(errorCodeMessage(ErrorCode::InvalidMetricsKey), "Invalid metrics key");
  EXPECT_EQ(static_cast<int>(ErrorCode::InvalidMetricsKey), 23020);
  EXPECT_EQ(errorCodeMessage(static_cast<ErrorCode>(27000)), "");
}

TEST(HttpError, MessagesDefaultAsDocumented) {
  const HttpException plain = newHttpException(403, ErrorCode::InvalidAuthToken);
  EXPECT_EQ(plain.httpCode(), 403);
  EXPECT_EQ(plain.errorMessage(), "Invalid auth token");
  EXPECT_STREQ(plain.what(), "");

  const HttpException given = newHttpException(400, ErrorCode::MissingField, "Missing field auth");
  EXPECT_EQ(given.errorMessage(), "Missing field auth");
  EXPECT_STREQ(given.what(), "Missing field auth");

  const HttpException both = newHttpException(400, ErrorCode::MissingField, "body", "log");
  EXPECT_EQ(both.errorMessage(), "body");
  EXPECT_STREQ(both.what(), "log");

  EXPECT_EQ(toCompact(*newJsonError(plain)),
            R"({"error":{"code":23010,"message":"Invalid auth token"}})");
  EXPECT_EQ(toCompact(*newJsonError(ErrorCode::UnspecifiedError)),
            R"({"error":{"code":10000,"message":"Unspecified error"}})");
}

void expectHttpError(const auto& call, int status, ErrorCode code, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no exception";
  } catch (const HttpException& e) {
    EXPECT_EQ(e.httpCode(), status);
    EXPECT_EQ(e.errorCode(), code);
    EXPECT_EQ(e.errorMessage(), message);
  }
}

TEST(HttpJson, AccessorsRaiseWithPreciseMessages) {
  const JsonNodePtr body = parseJson(R"({"auth":5,"name":"x","big":123456789012345678901234})");
  EXPECT_EQ(httpJsonMustGetString(*body, "name"), "x");
  EXPECT_EQ(httpJsonMustGet(*body, "auth")->getInt(), 5);
  expectHttpError([&] { httpJsonMustGetString(*body, "auth"); }, 400, ErrorCode::InvalidFormat,
                  "Field auth is not a string");
  expectHttpError([&] { httpJsonMustGetString(*body, "big"); }, 400, ErrorCode::InvalidFormat,
                  "Field big is not a string");
  expectHttpError([&] { httpJsonMustGet(*body, "missing"); }, 400, ErrorCode::MissingField,
                  "Missing field missing");
  expectHttpError([&] { httpJsonMustGetString(*parseJson("[1]"), "auth"); }, 400,
                  ErrorCode::InvalidFormat, "Cannot get field auth from an non-object");
}

}  // namespace
}  // namespace relaydash
