// Runs the command-line layer with a main procedure that prints the five values it receives,
// one per line, so that a test can check a whole process: streams, texts and exit status.
#include <cstdio>

#include "cli/command_line.hpp"

int main(int argc, char** argv) {
  return relaydash::dispatchCommandLine(argc, argv, [](const relaydash::StartupOptions& options) {
    std::printf("%s\n%d\n%s\n%s\n%s\n", options.listen.c_str(), options.port,
                options.forwarderConfigPath.c_str(), options.forwarderUnitServiceName.c_str(),
                options.dataPath.c_str());
  });
}
