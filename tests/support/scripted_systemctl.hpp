#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace relaydash::testing {

// A system bus address where no bus listens.
inline constexpr const char* kNoSystemBus = "unix:path=/nonexistent/relaydash-tests";

// Stand-ins for systemctl, journalctl and timedatectl (the scripts in
// tests/support/fake-systemd), linked into a directory that is put first on PATH for the whole
// test process (before any server thread runs, since children find them through PATH), with the
// system bus made unreachable so that relaydash runs them rather than asking systemd over D-Bus.
// Each call appends one line to a log: the program's name and every argument it got in brackets.
// What the scripts answer is set through files in their state folder; see the scripts.
class ScriptedSystemctl {
 public:
  static ScriptedSystemctl& instance() {
    static ScriptedSystemctl fake;
    return fake;
  }

  // Forgets the calls, the journals and every answer set: every verb succeeds again.
  void reset() {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file("state"))) {
      std::filesystem::remove(entry.path());
    }
  }

  // How a verb ends: an exit status, "kill" or "hang". "journalctl" and "timedatectl" name
  // those programs.
  void answer(const std::string& verb, const std::string& status) {
    write("status-" + verb, status);
  }
  // Seconds the verb (or "journalctl") sleeps before answering.
  void delay(const std::string& verb, double seconds) {
    write("delay-" + verb, std::to_string(seconds));
  }
  // The verb (or "journalctl") waits until open(program) is called; how many journalctl runs
  // waited at once at most.
  void gate(const std::string& program) { write("gate-" + program, ""); }
  void open(const std::string& program) { write("open-" + program, ""); }
  int mostHeldAtOnce() const {
    std::ifstream log(dir_.file("state/held"));
    int now = 0, most = 0;
    for (std::string word, pid; log >> word >> pid;)
      most = std::max(most, now += word == "start" ? 1 : -1);
    return most;
  }
  // What `systemctl show` prints for the unit.
  void show(const std::string& unit, const std::string& properties) {
    write("show-" + unit, properties);
  }
  // The unit's journal: lines of `journalctl --output=json`.
  void journal(const std::string& unit, const std::vector<std::string>& entries) {
    std::ofstream out(dir_.file("state/journal-" + unit + ".jsonl"), std::ios::app);
    for (const std::string& entry : entries)
      out << entry << '\n';
  }
  // Entries appended to the unit's journal at each start or restart; "@NOW@" stands for the time
  // in microseconds, "@DATE@" for the date line of a statistics report a second later.
  void restartJournal(const std::string& unit, const std::vector<std::string>& entries) {
    std::ofstream out(dir_.file("state/restart-journal-" + unit));
    for (const std::string& entry : entries)
      out << entry << '\n';
  }
  // That many looks after each start or restart, the unit has ended by itself with status 0.
  void quitAfterLooks(const std::string& unit, int looks) {
    write("quit-" + unit, std::to_string(looks));
  }
  // journalctl prints this many lines of noise instead of the journal.
  void flood(const std::string& verb, int lines) { write("flood-" + verb, std::to_string(lines)); }
  void timedatectl(const std::string& show) { write("timedatectl-show", show); }
  // The unit reads the configuration at path when it starts, and crash-loops when the file holds
  // the marker (it writes its complaint to its journal first).
  void crashWhenConfigHolds(const std::string& unit, const std::string& path,
                            const std::string& marker) {
    write("config-" + unit, path);
    write("reject-" + unit, marker);
  }
  // journalctl refuses --output-fields, as before systemd 236.
  void oldJournalctl() { write("old-journalctl", ""); }

  std::vector<std::string> calls() const {
    std::ifstream log(dir_.file("state/calls"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
      lines.push_back(line);
    return lines;
  }

  // The calls of one program ("systemctl", "journalctl", "timedatectl").
  std::vector<std::string> calls(const std::string& program) const {
    std::vector<std::string> lines;
    for (std::string& line : calls()) {
      if (line.rfind(program + " ", 0) == 0 || line == program) lines.push_back(std::move(line));
    }
    return lines;
  }

  std::string directory() const { return dir_.path().string(); }

 private:
  ScriptedSystemctl() {
    std::filesystem::create_directory(dir_.file("state"));
    // Tests run from the repository's root.
    const auto scripts = std::filesystem::absolute("tests/support/fake-systemd");
    for (const char* program : {"systemctl", "journalctl", "timedatectl"}) {
      std::filesystem::create_symlink(scripts / program, dir_.file(program));
    }
    const char* path = ::getenv("PATH");
    ::setenv("PATH", (dir_.file("") + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    // relaydash asks systemd over D-Bus before it runs the tools: on a machine with a system bus
    // the real systemd would answer instead of the stand-ins.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kNoSystemBus, 1);
    // The stand-in journal is what changes, not the machine's: the status reads it again when
    // anything in the state folder changed.
    ::setenv("RELAYDASH_JOURNAL_WATCH", dir_.file("state").c_str(), 1);
  }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_.file("state/" + name)) << text;
  }

  TempDir dir_;
};

}  // namespace relaydash::testing
