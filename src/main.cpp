// The program's entry: binds the shared libraries, reads the command line, runs the main
// procedure with the embedded web application, and reports an error that ends the process.
#include <exception>
#include <string>

#include "app/run.hpp"
#include "cli/command_line.hpp"
#include "crypto/libsodium.hpp"
#include "model/sqlite.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"

int main(int argc, char** argv) {
  using namespace relaydash;
  // Before the command line is read: a board without the libraries cannot run at all.
  loadSqlite();
  loadLibsodium();
  try {
    return dispatchCommandLine(argc, argv, [](const StartupOptions& o) {
      relaydash::relaydash(o.listen, o.port, o.forwarderConfigPath, o.forwarderUnitServiceName,
                           o.dataPath, uiFiles);
    });
  } catch (const OSError& e) {
    printLine(e.what());
    printLine("OSError code: " + std::to_string(e.errorCode()));
  } catch (const std::exception& e) {
    printLine(e.what());
  }
  // A fatal error exits non-zero, so service managers and scripts see the failure.
  return 1;
}
