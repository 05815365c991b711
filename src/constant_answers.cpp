#include "constant_answers.hpp"

#include <string>

#include "json/writer.hpp"

namespace relaydash {
namespace {

// The health answer never changes: it is written once.
const std::string& healthBody() {
  static const std::string body = [] {
    auto kit = newJObject();
    kit->set("kit", newJString("1.4.2"));
    return toCompact(*kit);
  }();
  return body;
}

}  // namespace

Task<void> healthCheck(Session& session) {
  // The same bytes the JSON form of respond writes, without building them per request.
  static HttpHeaders headers = [] {
    HttpHeaders h;
    h.set("Content-Type", "application/json");
    return h;
  }();
  co_await respond(session, 200, std::string_view(healthBody()), &headers);
}

Task<void> redirectToUi(Session& session) {
  static HttpHeaders headers = [] {
    HttpHeaders h;
    h.set("Location", "/ui");
    return h;
  }();
  co_await respond(session, 302, std::string_view(), &headers);
}

}  // namespace relaydash
