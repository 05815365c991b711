#pragma once

#include <span>
#include <string_view>

#include "server/http_server.hpp"

namespace relaydash {

// One file of the embedded web application.
struct EmbeddedFile {
  std::string_view path;  // relative to the application's folder, "/" between directories
  std::string_view mimeType;
  std::string_view content;
};

// The web application, embedded at build time from assets/ui/ (sorted by path).
extern const std::span<const EmbeddedFile> uiFiles;

// The Content-Type for a file name, by its extension.
std::string_view mimeTypeFor(std::string_view path) noexcept;

// A handler that answers every request with the deepest file whose path is a whole-segment
// prefix of the request path, or with "index.html" when none is: 200, the file's type and
// bytes, whatever the method, query or headers. The files must outlive the handler.
HttpHandler staticFileHandler2(std::span<const EmbeddedFile> files);

}  // namespace relaydash
