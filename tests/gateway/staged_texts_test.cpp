#include "gateway/staged_texts.hpp"

#include <gtest/gtest.h>

#include <string>

namespace relaydash {
namespace {

using Kind = StagingError::Kind;

Kind refusal(const std::function<void()>& f) {
  try {
    f();
  } catch (const StagingError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "not refused";
  return Kind::UnknownId;
}

TEST(StagedTexts, PiecesInOrderMakeTheText) {
  StagedTexts texts;
  const auto first = texts.append("", 0, "{\"a\":");
  EXPECT_EQ(first.size, 5u);
  EXPECT_EQ(texts.append(first.id, 5, " 1}").size, 8u);
  // A piece sent again, or one that skips ahead, is refused and changes nothing.
  EXPECT_EQ(refusal([&] { texts.append(first.id, 5, " 1}"); }), Kind::WrongOffset);
  EXPECT_EQ(refusal([&] { texts.append(first.id, 9, "x"); }), Kind::WrongOffset);
  EXPECT_EQ(refusal([&] { texts.append("", 3, "x"); }), Kind::WrongOffset);
  EXPECT_EQ(texts.take(first.id), "{\"a\": 1}");
  EXPECT_EQ(texts.take(first.id), std::nullopt);
  EXPECT_EQ(refusal([&] { texts.append(first.id, 8, "x"); }), Kind::UnknownId);
}

TEST(StagedTexts, BoundedInSizeNumberAndTime) {
  StagedTexts texts;
  const auto t0 = StagedTexts::Clock::now();
  const auto big = texts.append("", 0, std::string(StagedTexts::kMaxBytes, 'x'), t0);
  EXPECT_EQ(refusal([&] { texts.append(big.id, big.size, "y", t0); }), Kind::TooLarge);
  EXPECT_EQ(texts.take(big.id, t0), std::nullopt);  // dropped with the piece too many

  std::vector<std::string> ids;
  for (std::size_t i = 0; i <= StagedTexts::kMaxTexts; ++i)
    ids.push_back(texts.append("", 0, "t", t0 + std::chrono::seconds(i)).id);
  EXPECT_EQ(texts.take(ids.front(), t0), std::nullopt);  // the least recently used went
  EXPECT_EQ(texts.take(ids.back(), t0), "t");
  EXPECT_EQ(texts.take(ids[1], t0 + StagedTexts::kIdle + std::chrono::seconds(2)), std::nullopt);
}

}  // namespace
}  // namespace relaydash
