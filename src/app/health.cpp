#include "app/health.hpp"

#include <array>
#include <string>

#include "json/writer.hpp"

namespace relaydash {
namespace {

constexpr std::array kJsonType = {HeaderField{"Content-Type", "application/json"}};
constexpr std::array kToUi = {HeaderField{"Location", "/ui"}};

// The health answer: the bytes the JSON form of respond would write, made once.
const ConstantAnswer& healthAnswer() {
  static const std::string body = [] {
    auto kit = newJObject();
    kit->set("kit", newJString("1.4.2"));
    return toCompact(*kit);
  }();
  static const ConstantAnswer answer(200, kJsonType, body);
  return answer;
}

}  // namespace

Task<void> healthCheck(Session& session) {
  return respond(session, healthAnswer());
}

Task<void> redirectToUi(Session& session) {
  static const ConstantAnswer answer(302, kToUi, "");
  return respond(session, answer);
}

}  // namespace relaydash
