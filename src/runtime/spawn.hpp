#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/file_descriptor.hpp"

namespace relaydash {

// The full path of a program as execvp would find it: a name with a "/" as it is, otherwise the
// first executable file of that name in the directories of PATH. Empty when there is none; errno
// then says why (ENOENT, or EACCES when only files we may not run were found).
std::string findProgram(const std::string& name, const std::string& path);

// A child started by spawnProgram: its pid and our ends of its output pipes (non-blocking,
// close-on-exec).
struct SpawnedProgram {
  pid_t pid = -1;
  FileDescriptor output;
  FileDescriptor errorOutput;
};

// Starts the program (a full path) with the arguments (argv[0] included) and the environment
// entries ("NAME=value"), never through a shell: standard input from /dev/null, standard output
// and error into pipes, every other descriptor of ours closed, signals at their defaults and
// none blocked, and in a process group of its own (so that it can be killed with whatever it
// started). Raises OSError when it cannot be started.
SpawnedProgram spawnProgram(const std::string& program, const std::vector<std::string>& argv,
                            const std::vector<std::string>& environment);

// Runs `work` in a child made by fork, without exec: what it returns is the child's standard
// output, and an exception ends the child with status 1 and its message on standard error. The
// child is in a process group of its own, with its signals at their defaults, and ends with
// _exit: it never runs our exit handlers or flushes our buffers. For work whose lasting costs
// (a library loaded once, the memory it keeps) this process should not carry. Raises OSError
// when no process can be made.
SpawnedProgram forkWork(const std::function<std::string()>& work);

// Starts "/bin/sh -c commandLine" as the C library's system() does: the server's standard input,
// output and error and its whole environment are inherited, and so is its process group. Unlike
// system(), no other descriptor of ours reaches the shell, and nothing waits. nullopt when
// /bin/sh cannot be run (system() reports that as a shell that exited with 127); raises OSError
// when no process can be made.
std::optional<pid_t> spawnShell(const std::string& commandLine);

}  // namespace relaydash
