#pragma once

#include <string>
#include <string_view>

namespace relaydash {

// A phrase looked for in log messages. It is found as a whole, never word by word
// ("acknowledged: 0.00" is not in "PUSH_DATA acknowledged: 100.00%"). A phrase without a capital
// letter (A to Z) is found in any case; one with a capital only in exactly its case: "error" is
// in "TX errors: 0" and in "ERROR: [up] …", "ERROR" only in the second.
class PhraseMatch {
 public:
  explicit PhraseMatch(std::string phrase);

  bool foundIn(std::string_view text) const;

 private:
  std::string phrase_;
  bool exactCase_ = false;
};

}  // namespace relaydash
