#include "app/run.hpp"

#include <csignal>
#include <cstdlib>

#include "api/account/initial_password.hpp"
#include "api/forwarder_config/changes.hpp"
#include "app/allowed_hosts.hpp"
#include "app/mounts.hpp"
#include "app/start_up.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/print_line.hpp"
#include "server/http_server.hpp"
#include "tls/tls_server.hpp"
#include "transport/limits.hpp"

namespace relaydash {

void relaydash(const std::string& listen, int port, const std::string& forwarderConfigPath,
               const std::string& forwarderUnitServiceName, const std::string& dataPath,
               std::span<const EmbeddedFile> uiFiles) {
  printLine("starting relaydash v" + std::string(kVersion));
  // A file grown past the size limit (RLIMIT_FSIZE) must fail its write with EFBIG, which the
  // configuration's writers report, rather than end the server.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::shared_ptr<Context> context =
      newContext(forwarderConfigPath, forwarderUnitServiceName, dataPath);
  context->allowedHosts = allowedHostsAtStart();
  const char* passwordFile = std::getenv(kInitialPasswordVariable);
  useInitialPasswordFile(*context, passwordFile ? passwordFile : "");
  init(*context);
  if (const std::optional<std::string> notice = initialPasswordNotice(*context)) printLine(*notice);
  for (const std::string& problem : removeInterruptedWrites(*context))
    printLine(problem);
  // Nothing needs the database until a request does: SQLite leaves the process meanwhile.
  context->database.close();

  const std::unique_ptr<HttpServer> server = newHttpServer(limits::kMaxRequestBody);
  mountApplication(*server, uiFiles);
  // HTTPS on the same port; the device's own certificate lives beside the database.
  TlsServer tls(TlsSettings::fromEnvironment(), stateFolderFor(dataPath) + "tls");
  context->tls = &tls.summary();
  // Said once the port listens, after the lines that scripts read first.
  server->server->setOnListening([&tls] {
    printLine(tls.startLine());
    for (const std::string& note : tls.notes())
      printLine(note);
  });
  if (tls.on()) {
    server->server->setSecureLayers(
        [&tls](int fd, std::string_view received) { return tls.open(fd, received); });
    server->redirectPlainHttp = tls.summary().redirect;
  }

  // Printed before binding, so it also shows when binding then fails.
  printLine("Listening " + listen + ":" + std::to_string(port));
  // Declared last, so it goes first: the tasks it still holds go before what they refer to.
  EventLoop loop;
  // A change of the forwarder's configuration that a stop of relaydash left unwatched is finished
  // while the server already answers.
  loop.spawn(finishInterruptedChange(*context));
  loop.spawn(tls.maintain());
  loop.blockOn(serve(
      *server, [&context]() -> Context& { return *context; }, port, listen));
}

}  // namespace relaydash
