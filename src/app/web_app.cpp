#include "app/web_app.hpp"

#include <array>
#include <memory>
#include <string>
#include <utility>

#include "server/router.hpp"

namespace relaydash {

HttpHandler staticFileHandler(std::span<const EmbeddedFile> files) {
  // Each file's answer is written once: its type and length never change.
  const auto answer = [](const EmbeddedFile& file) {
    const HeaderField type[] = {{"Content-Type", file.mimeType}};
    return ConstantAnswer(200, type, file.content);
  };
  auto router = std::make_shared<Router<ConstantAnswer>>(
      ConstantAnswer(200, std::array{HeaderField{"Content-Type", "text/plain"}}, ""));
  for (const EmbeddedFile& file : files) {
    if (file.path == "index.html") {
      router->setDefault(answer(file));
    } else {
      router->mount(file.path, answer(file));
    }
  }
  return [router = std::move(router)](Session& session) -> Task<void> {
    std::string scratch;
    return respond(session, router->route(session.path, scratch).value);
  };
}

}  // namespace relaydash
