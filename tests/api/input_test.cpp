#include "api/input.hpp"

#include <gtest/gtest.h>

#include <string>

#include "json/parser.hpp"

namespace relaydash {
namespace {

// What a reading of the input raises: status, code and message; empty when it does not raise.
template <typename Read>
std::string refusal(Read read) {
  try {
    read();
  } catch (const HttpException& e) {
    return std::to_string(e.httpCode()) + " " + std::to_string(static_cast<int>(e.errorCode())) +
           " " + e.errorMessage();
  }
  return "";
}

const Input::Range kLines{1, 2000, ErrorCode::InvalidLimit, "Field lines must be 1 to 2000"};

TEST(Input, MissingOrNullIsNoneAndAnythingElseButAnObjectIsRefused) {
  for (const char* body : {R"({})", R"({"input":null})", R"({"input":{}})"}) {
    const Input input(*parseJson(body), {"lines"});
    EXPECT_FALSE(input.has("lines")) << body;
    EXPECT_EQ(input.whole("lines", kLines), std::nullopt) << body;
  }
  for (const char* body : {R"({"input":[]})", R"({"input":"x"})", R"({"input":3})"}) {
    EXPECT_EQ(refusal([&] { Input(*parseJson(body), {"lines"}); }),
              "400 23001 Field input is not an object")
        << body;
  }
  EXPECT_EQ(refusal([] { Input(*parseJson(R"({"input":{"line":3}})"), {"lines"}); }),
            "400 22007 Unknown field line");
}

TEST(Input, AMemberGivenAsNullIsAMemberNotGiven) {
  const Input input(*parseJson(R"({"input":{"lines":null,"unit":null}})"), {"lines", "unit"});
  EXPECT_EQ(input.text("unit"), std::nullopt);
  EXPECT_EQ(input.whole("lines", kLines), std::nullopt);
  EXPECT_EQ(refusal([&] { input.required("unit"); }), "400 21031 Missing field unit");
}

TEST(Input, WholeNumbersAreNumbersInTheirRangeAndNothingElse) {
  const auto lines = [](const std::string& value) {
    return refusal([&] {
      Input(*parseJson(R"({"input":{"lines":)" + value + "}}"), {"lines"}).whole("lines", kLines);
    });
  };
  EXPECT_EQ(lines("1"), "");
  EXPECT_EQ(lines("2000"), "");
  // Given as text, with a fraction, out of range, or too long for 64 bits: the same refusal.
  for (const char* wrong : {"\"30\"", "30.5", "0", "2001", "-1", "true", "[]",
                            "123456789012345678901234567890", "-123456789012345678901234567890"}) {
    EXPECT_EQ(lines(wrong), "400 23007 Field lines must be 1 to 2000") << wrong;
  }
}

TEST(Input, TextIsAStringAndNeverANumber) {
  const auto unit = [](const std::string& value) {
    return refusal(
        [&] { Input(*parseJson(R"({"input":{"unit":)" + value + "}}"), {"unit"}).text("unit"); });
  };
  EXPECT_EQ(unit("\"ssh\""), "");
  for (const char* wrong : {"3", "123456789012345678901234567890", "{}", "false"})
    EXPECT_EQ(unit(wrong), "400 23001 Field unit is not a string") << wrong;
}

}  // namespace
}  // namespace relaydash
