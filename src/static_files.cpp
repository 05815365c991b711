#include "static_files.hpp"

#include <array>
#include <memory>
#include <utility>

#include "server/router.hpp"

namespace relaydash {
namespace {

// What a request under the mount point is answered with: the file's type and bytes, and the
// header map for its Content-Type, made once.
struct Served {
  std::string_view mimeType;
  std::string_view content;
  std::shared_ptr<HttpHeaders> headers;
};

Served served(std::string_view mimeType, std::string_view content) {
  auto headers = std::make_shared<HttpHeaders>();
  headers->set("Content-Type", mimeType);
  return Served{mimeType, content, std::move(headers)};
}

}  // namespace

HttpHandler staticFileHandler2(std::span<const EmbeddedFile> files) {
  auto router = std::make_shared<Router<Served>>(served("text/plain", {}));
  for (const EmbeddedFile& file : files) {
    if (file.path == "index.html") {
      router->setDefault(served(file.mimeType, file.content));
    } else {
      router->mount(file.path, served(file.mimeType, file.content));
    }
  }
  return [router = std::move(router)](Session& session) -> Task<void> {
    std::string scratch;
    const Served& file = router->route(session.path, scratch).value;
    co_await respond(session, 200, file.content, file.headers.get());
  };
}

}  // namespace relaydash
