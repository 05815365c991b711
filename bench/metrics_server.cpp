// The application as start-up mounts it, its /metrics taking the one key given, for
// bench/metrics.py: the metrics keys themselves live in the account database, which a bench has
// no business writing into.
//
//   metrics_server PORT CONFIG_PATH DATA_PATH UNIT KEY
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/metrics_route.hpp"
#include "app/mounts.hpp"
#include "app/start_up.hpp"
#include "runtime/event_loop.hpp"
#include "server/http_server.hpp"
#include "transport/limits.hpp"

int main(int argc, char** argv) {
  using namespace relaydash;
  if (argc != 6) {
    std::fprintf(stderr, "usage: metrics_server PORT CONFIG_PATH DATA_PATH UNIT KEY\n");
    return 2;
  }
  try {
    const std::string key = argv[5];
    const std::shared_ptr<Context> context = newContext(argv[2], argv[4], argv[3]);
    init(*context);
    context->database.close();
    const std::unique_ptr<HttpServer> server = newHttpServer(limits::kMaxRequestBody);
    mountApplication(*server, {});
    mount(*server, "metrics",
          metricsRoute(*server, [key](Context&, std::string_view given) { return given == key; }));
    EventLoop loop;
    loop.blockOn(serve(
        *server, [&context]() -> Context& { return *context; }, std::atoi(argv[1]), "127.0.0.1"));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
