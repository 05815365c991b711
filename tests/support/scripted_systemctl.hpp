#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace relaydash::testing {

// A stand-in for systemctl, put first on PATH for the whole test process (before any server
// thread runs, since the shell reads PATH from the environment). Each call appends one line to
// a log, "systemctl" and every argument the shell passed in brackets, then exits with the
// status chosen for its verb: a number, or "kill" to die by SIGKILL.
class ScriptedSystemctl {
 public:
  static ScriptedSystemctl& instance() {
    static ScriptedSystemctl fake;
    return fake;
  }

  // Forgets the calls and makes every verb succeed.
  void reset() {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file("state"))) {
      std::filesystem::remove(entry.path());
    }
  }

  void answer(const std::string& verb, const std::string& status) {
    std::ofstream(dir_.file("state/status-" + verb)) << status;
  }

  std::vector<std::string> calls() const {
    std::ifstream log(dir_.file("state/calls"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
      lines.push_back(line);
    return lines;
  }

 private:
  ScriptedSystemctl() {
    std::filesystem::create_directory(dir_.file("state"));
    const std::string state = dir_.file("state");
    const std::string script = dir_.file("systemctl");
    std::ofstream(script) << "#!/bin/sh\n"
                          << "{ printf systemctl; printf ' [%s]' \"$@\"; echo; } >> " << state
                          << "/calls\n"
                          << "status=$(cat " << state << "/status-$1 2>/dev/null || echo 0)\n"
                          << "[ \"$status\" = kill ] && kill -9 $$\n"
                          << "exit $status\n";
    ::chmod(script.c_str(), 0755);
    const char* path = ::getenv("PATH");
    ::setenv("PATH", (dir_.file("") + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
  }

  TempDir dir_;
};

}  // namespace relaydash::testing
