#pragma once

#include <span>
#include <string>
#include <string_view>

#include "ui/embedded_files.hpp"
#include "version.hpp"

namespace relaydash {

// The main procedure: prints the banner, builds the context and the server, mounts the JSON
// API, the web application made of uiFiles (which must outlive the server), the health check
// and the redirect, and serves until serving fails. Leaves only by raising.
void relaydash(const std::string& listen, int port, const std::string& forwarderConfigPath,
               const std::string& forwarderUnitServiceName, const std::string& dataPath,
               std::span<const EmbeddedFile> uiFiles);

}  // namespace relaydash
