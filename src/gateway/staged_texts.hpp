#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash {

// Why a piece of a staged text was refused.
class StagingError : public std::runtime_error {
 public:
  enum class Kind { UnknownId, WrongOffset, TooLarge };
  StagingError(Kind kind, std::string message)
      : std::runtime_error(std::move(message)), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// Texts that arrive in pieces, one request each, and are used as a whole later: request bodies
// are limited to a few kilobytes, and a forwarder's configuration file can be larger. Each text
// has an id; a piece names the offset it starts at, so a piece sent twice or lost is noticed
// rather than stitched in. A handful of texts of at most kMaxBytes are kept, each for kIdle after
// its last piece; beyond that the least recently used one goes.
//
// A text belongs to the owner that started it (the sign-in whose token sent the first piece):
// for anyone else its id is unknown. Ids are 128 random bits, so one cannot be guessed either.
class StagedTexts {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;
  // An id's length in hexadecimal digits.
  static constexpr std::size_t kIdDigits = 32;
  static constexpr std::size_t kMaxTexts = 4;
  static constexpr std::chrono::minutes kIdle{10};

  struct Appended {
    std::string id;
    std::size_t size = 0;  // bytes received so far
  };

  // Appends the piece to the text `id`, or starts a new text when id is empty (offset must then be
  // 0). Raises StagingError: an id that is not (or no longer) kept, an offset other than the
  // text's size, a text that would grow past kMaxBytes (it is dropped).
  Appended append(std::uint64_t owner, const std::string& id, std::size_t offset,
                  std::string_view piece, Clock::time_point now = Clock::now());

  // Hands the whole text over and forgets it; nullopt for an id unknown to this owner.
  std::optional<std::string> take(std::uint64_t owner, const std::string& id,
                                  Clock::time_point now = Clock::now());

 private:
  struct Text {
    std::uint64_t owner;
    std::string id;
    std::string bytes;
    Clock::time_point touched;
  };

  void dropIdle(Clock::time_point now);
  Text* find(std::uint64_t owner, const std::string& id);

  std::vector<Text> texts_;
};

}  // namespace relaydash
