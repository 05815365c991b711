#include "gateway/staged_texts.hpp"

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

// kIdDigits hexadecimal digits of the kernel's random bytes.
std::string newId() {
  std::array<unsigned char, StagedTexts::kIdDigits / 2> bytes{};
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseOSError();
    }
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  id.reserve(2 * bytes.size());
  for (const unsigned char b : bytes) {
    id += kDigits[b >> 4];
    id += kDigits[b & 15];
  }
  return id;
}

}  // namespace

void StagedTexts::dropIdle(Clock::time_point now) {
  std::erase_if(texts_, [now](const Text& t) { return now - t.touched > kIdle; });
}

StagedTexts::Text* StagedTexts::find(std::uint64_t owner, const std::string& id) {
  const auto it = std::find_if(texts_.begin(), texts_.end(),
                               [&](const Text& t) { return t.owner == owner && t.id == id; });
  return it == texts_.end() ? nullptr : &*it;
}

StagedTexts::Appended StagedTexts::append(std::uint64_t owner, const std::string& id,
                                          std::size_t offset, std::string_view piece,
                                          Clock::time_point now) {
  dropIdle(now);
  Text* text = nullptr;
  if (id.empty()) {
    if (offset != 0) {
      throw StagingError(StagingError::Kind::WrongOffset, "a new text starts at offset 0");
    }
    if (texts_.size() >= kMaxTexts) {
      texts_.erase(std::min_element(texts_.begin(), texts_.end(), [](const Text& a, const Text& b) {
        return a.touched < b.touched;
      }));
    }
    text = &texts_.emplace_back(Text{owner, newId(), {}, now});
  } else {
    text = find(owner, id);
    if (!text) throw StagingError(StagingError::Kind::UnknownId, "no upload " + id + " is kept");
  }
  if (offset != text->bytes.size()) {
    throw StagingError(StagingError::Kind::WrongOffset,
                       "upload " + text->id + " holds " + std::to_string(text->bytes.size()) +
                           " bytes, so the next piece starts at offset " +
                           std::to_string(text->bytes.size()));
  }
  if (text->bytes.size() + piece.size() > kMaxBytes) {
    const std::string dropped = text->id;
    std::erase_if(texts_, [&dropped](const Text& t) { return t.id == dropped; });
    throw StagingError(StagingError::Kind::TooLarge,
                       "an upload may hold at most " + std::to_string(kMaxBytes) + " bytes");
  }
  text->bytes.append(piece);
  text->touched = now;
  return {text->id, text->bytes.size()};
}

std::optional<std::string> StagedTexts::take(std::uint64_t owner, const std::string& id,
                                             Clock::time_point now) {
  dropIdle(now);
  Text* text = find(owner, id);
  if (!text) return std::nullopt;
  std::string bytes = std::move(text->bytes);
  std::erase_if(texts_, [&id](const Text& t) { return t.id == id; });
  return bytes;
}

}  // namespace relaydash
