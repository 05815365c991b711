#include "gateway/staged_texts.hpp"

#include <algorithm>

namespace relaydash {

void StagedTexts::dropIdle(Clock::time_point now) {
  std::erase_if(texts_, [now](const Text& t) { return now - t.touched > kIdle; });
}

StagedTexts::Text* StagedTexts::find(const std::string& id) {
  const auto it =
      std::find_if(texts_.begin(), texts_.end(), [&id](const Text& t) { return t.id == id; });
  return it == texts_.end() ? nullptr : &*it;
}

StagedTexts::Appended StagedTexts::append(const std::string& id, std::size_t offset,
                                          std::string_view piece, Clock::time_point now) {
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
    text = &texts_.emplace_back(Text{std::to_string(next_++), {}, now});
  } else {
    text = find(id);
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

std::optional<std::string> StagedTexts::take(const std::string& id, Clock::time_point now) {
  dropIdle(now);
  Text* text = find(id);
  if (!text) return std::nullopt;
  std::string bytes = std::move(text->bytes);
  std::erase_if(texts_, [&id](const Text& t) { return t.id == id; });
  return bytes;
}

}  // namespace relaydash
