#include "transport/store_text.hpp"

namespace relaydash {

void replaceText(std::string& into, std::string_view text) {
  into.assign(text);
}

}  // namespace relaydash
