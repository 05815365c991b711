#pragma once

#include <string>

namespace relaydash {

// The whole content of a file. Raises OSError with the system's text when it cannot be opened
// or read.
std::string readTextFile(const std::string& path);

// The same for a file of relaydash's own folders, where nothing else belongs: a symbolic link or
// anything but a regular file found there is refused (OSError, ELOOP or EINVAL), never followed
// or waited on.
std::string readOwnFile(const std::string& path);

// The file a path leads to, its symbolic links resolved; the path as given when it cannot be
// resolved (a reader then reports why). A change resolves the path once and writes what it
// read, whatever becomes of the links meanwhile.
std::string resolvedPath(const std::string& path);

}  // namespace relaydash
