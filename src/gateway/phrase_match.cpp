#include "gateway/phrase_match.hpp"

#include <algorithm>
#include <utility>

#include "ascii/ascii.hpp"

namespace relaydash {

PhraseMatch::PhraseMatch(std::string phrase)
    : phrase_(std::move(phrase)),
      exactCase_(std::any_of(phrase_.begin(), phrase_.end(), ascii::isUpper)) {}

bool PhraseMatch::foundIn(std::string_view text) const {
  if (exactCase_) return text.find(phrase_) != std::string_view::npos;
  // The phrase has no capital, so folding the text's capitals is enough.
  const auto folded = [](char t, char p) { return ascii::toLower(t) == p; };
  return std::search(text.begin(), text.end(), phrase_.begin(), phrase_.end(), folded) !=
             text.end() ||
         phrase_.empty();
}

}  // namespace relaydash
