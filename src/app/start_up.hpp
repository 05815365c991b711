#pragma once

#include <memory>
#include <string>
#include <vector>

#include "api/context.hpp"

namespace relaydash {

// Start-up's steps before the server answers: the context built whole, the database set up, and
// what a killed run left behind cleared away.

// The folder of the database, where relaydash keeps what it owns (the configuration's history,
// the device's certificate), with a trailing '/': "." for a bare file name.
std::string stateFolderFor(const std::string& dataPath);

// Opens (creating if need be) the database at dataPath; raises DbError when it cannot be opened.
std::shared_ptr<Context> newContext(std::string forwarderConfigPath,
                                    std::string forwarderUnitServiceName, std::string dataPath);

// Creates the account table and the audit trail when they are missing, and the account "admin" with
// the password "quilm" (or the initial password file's: firstPassword) when the table holds no
// account at all. Raises DbError when a statement fails, as on a file that is not a database.
void init(Context& ctx);

// Removes the temporary files that writes of the forwarder's configuration and of its history
// leave when relaydash is killed midway (a crash, SIGKILL, a power cut), and no other file. The
// files themselves are whole either way. Answers what could not be removed, a sentence each:
// clutter that does not stop the start.
std::vector<std::string> removeInterruptedWrites(Context& ctx);

}  // namespace relaydash
