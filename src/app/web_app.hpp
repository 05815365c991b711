#pragma once

#include <span>
#include <string_view>

#include "server/http_server.hpp"
#include "ui/embedded_files.hpp"

namespace relaydash {

// A handler that answers every request with the deepest file whose path is a whole-segment
// prefix of the request path, or with "index.html" when none is: 200, the file's type and
// bytes, whatever the method, query or headers. The files must outlive the handler.
HttpHandler staticFileHandler(std::span<const EmbeddedFile> files);

}  // namespace relaydash
