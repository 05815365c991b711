#pragma once

#include <functional>
#include <memory>

#include "json/value.hpp"
#include "runtime/task.hpp"
#include "server/http_server.hpp"
#include "server/router.hpp"

namespace relaydash {

// A JSON API procedure: given the session and the request's JSON object, the answer object.
using JsonHandler = std::function<Task<JsonNodePtr>(Session&, JsonNodePtr)>;
using JsonApiRouter = Router<JsonHandler>;

// A router of procedures whose default raises HttpException 404, code 22001 ("Unknown path").
std::shared_ptr<JsonApiRouter> newJsonApiRouter();

// The HTTP handler that serves the router's procedures: POST with a JSON object body, the
// procedure named by its "path" member or by the URL below the mount point, "pin" echoed into
// the answer; OPTIONS answers CORS preflight. Errors travel to the server's error hook.
HttpHandler jsonApiHandler(std::shared_ptr<const JsonApiRouter> jsonHandlers);

}  // namespace relaydash
