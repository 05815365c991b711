#include "gateway/staged_texts.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace relaydash {
namespace {

using Kind = StagingError::Kind;
constexpr std::uint64_t kOwner = 7;

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
  const auto first = texts.append(kOwner, "", 0, "{\"a\":");
  EXPECT_EQ(first.size, 5u);
  EXPECT_EQ(texts.append(kOwner, first.id, 5, " 1}").size, 8u);
  // A piece sent again, or one that skips ahead, is refused and changes nothing.
  EXPECT_EQ(refusal([&] { texts.append(kOwner, first.id, 5, " 1}"); }), Kind::WrongOffset);
  EXPECT_EQ(refusal([&] { texts.append(kOwner, first.id, 9, "x"); }), Kind::WrongOffset);
  EXPECT_EQ(refusal([&] { texts.append(kOwner, "", 3, "x"); }), Kind::WrongOffset);
  EXPECT_EQ(texts.take(kOwner, first.id), "{\"a\": 1}");
  EXPECT_EQ(texts.take(kOwner, first.id), std::nullopt);
  EXPECT_EQ(refusal([&] { texts.append(kOwner, first.id, 8, "x"); }), Kind::UnknownId);
}

TEST(StagedTexts, BoundedInSizeNumberAndTime) {
  StagedTexts texts;
  const auto t0 = StagedTexts::Clock::now();
  const auto big = texts.append(kOwner, "", 0, std::string(StagedTexts::kMaxBytes, 'x'), t0);
  EXPECT_EQ(refusal([&] { texts.append(kOwner, big.id, big.size, "y", t0); }), Kind::TooLarge);
  EXPECT_EQ(texts.take(kOwner, big.id, t0), std::nullopt);  // dropped with the piece too many

  std::vector<std::string> ids;
  for (std::size_t i = 0; i <= StagedTexts::kMaxTexts; ++i)
    ids.push_back(texts.append(kOwner, "", 0, "t", t0 + std::chrono::seconds(i)).id);
  EXPECT_EQ(texts.take(kOwner, ids.front(), t0), std::nullopt);  // the least recently used went
  EXPECT_EQ(texts.take(kOwner, ids.back(), t0), "t");
  EXPECT_EQ(texts.take(kOwner, ids[1], t0 + StagedTexts::kIdle + std::chrono::seconds(2)),
            std::nullopt);
}

// Another sign-in can neither add to a text nor take it, nor guess the id of the next one.
TEST(StagedTexts, ATextIsItsOwnersAlone) {
  StagedTexts texts;
  const auto mine = texts.append(kOwner, "", 0, "{\"a\":");
  EXPECT_EQ(refusal([&] { texts.append(kOwner + 1, mine.id, mine.size, "1}"); }), Kind::UnknownId);
  EXPECT_EQ(texts.take(kOwner + 1, mine.id), std::nullopt);
  EXPECT_EQ(texts.append(kOwner, mine.id, mine.size, "1}").size, 7u);
  EXPECT_EQ(texts.take(kOwner, mine.id), "{\"a\":1}");

  const auto next = texts.append(kOwner, "", 0, "x");
  EXPECT_EQ(next.id.size(), 32u);
  EXPECT_EQ(next.id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(next.id, mine.id);
}

}  // namespace
}  // namespace relaydash
