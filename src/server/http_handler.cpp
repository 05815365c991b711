#include "server/http_handler.hpp"

#include <array>
#include <stdexcept>

#include "json/parser.hpp"
#include "server/http_error.hpp"

namespace relaydash {
namespace {

Task<JsonNodePtr> unknownPath(Session&, JsonNodePtr) {
  raiseHttpException(404, ErrorCode::UnknownPath);
  co_return nullptr;
}

constexpr std::array kPreflightFields = {
    HeaderField{"Access-Control-Allow-Origin", "*"},
    HeaderField{"Access-Control-Allow-Methods", "POST, OPTIONS"},
    HeaderField{"Access-Control-Allow-Headers", "Content-Type"},
    HeaderField{"Access-Control-Max-Age", "86400"},
};

// CORS preflight: only a request announcing exactly "POST" is let through.
Task<void> preflight(Session& session) {
  static const ConstantAnswer allowed(200, kPreflightFields, "");
  const auto* method = session.request.headers.find("access-control-request-method");
  if (!method || method->size() != 1 || method->front() != "POST") return respond(session, 400);
  return respond(session, allowed);
}

Task<void> serveProcedures(Session& session, const JsonApiRouter& jsonHandlers) {
  switch (session.request.reqMethod) {
    case HttpMethod::HttpOptions:
      co_await preflight(session);
      co_return;
    case HttpMethod::HttpPost:
      break;
    default:
      raiseHttpException(400, ErrorCode::PostMethodRequired);
  }

  JsonNodePtr input = parseJson(session.request.body);
  if (!input->isObject()) throw std::invalid_argument("the request body is not a JSON object");
  if (!input->hasKey("path")) {
    if (session.path.empty()) raiseHttpException(400, ErrorCode::MissingField);
    input->set("path", newJString(std::string(session.path)));
  }

  // A "path" that is not a string counts as the empty path. Segments below a mounted
  // procedure still reach it.
  std::string scratch;
  const JsonHandler& procedure = jsonHandlers.route(input->at("path")->getString(), scratch).value;
  const JsonNodePtr pin = input->get("pin");
  JsonNodePtr output = co_await procedure(session, input);

  if (pin) {
    if (!output || !output->isObject()) {
      throw std::invalid_argument("a procedure's answer is not a JSON object");
    }
    output->set("pin", pin);
  }
  co_await respond(session, *output);
}

}  // namespace

std::shared_ptr<JsonApiRouter> newJsonApiRouter() {
  return std::make_shared<JsonApiRouter>(unknownPath);
}

HttpHandler jsonApiHandler(std::shared_ptr<const JsonApiRouter> jsonHandlers) {
  return [jsonHandlers = std::move(jsonHandlers)](Session& session) {
    return serveProcedures(session, *jsonHandlers);
  };
}

}  // namespace relaydash
