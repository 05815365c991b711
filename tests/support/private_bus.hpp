#pragma once

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>

#include <string>

#include "gateway/system_bus.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"

namespace relaydash::testing {

// A message bus of its own (dbus-daemon with the session policy, which lets every peer call
// anything) listening on a socket in a temporary directory, stopped when the object goes away.
// Nothing owns systemd's or timedated's names on it. available() is false where dbus-daemon is
// not installed.
class PrivateBus {
 public:
  PrivateBus() {
    const std::string command =
        "exec dbus-daemon --session --nofork --address=unix:path=" + dir_.file("bus") +
        " --print-address=1 --print-pid=1 2>/dev/null";
    daemon_ = ::popen(command.c_str(), "r");
    if (daemon_ == nullptr) return;
    // The address comes once the daemon listens, then its process id.
    char line[512];
    if (::fgets(line, sizeof line, daemon_) == nullptr) return;
    address_ = line;
    if (!address_.empty() && address_.back() == '\n') address_.pop_back();
    if (::fgets(line, sizeof line, daemon_) == nullptr) return;
    pid_ = static_cast<pid_t>(::atol(line));
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  ~PrivateBus() { stop(); }

  bool available() const { return pid_ > 0; }
  const std::string& address() const { return address_; }

  // Ends the daemon: every connection to it breaks.
  void stop() {
    if (daemon_ == nullptr) return;
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    ::pclose(daemon_);
    daemon_ = nullptr;
  }

 private:
  TempDir dir_;
  FILE* daemon_ = nullptr;
  std::string address_;
  pid_t pid_ = 0;
};

// Points this process's system bus at an address for the object's life, then at none again;
// the connection is made afresh both times.
class SystemBusAddress {
 public:
  explicit SystemBusAddress(const std::string& address) {
    ScriptedSystemctl::instance();  // which sets the address it is set back to
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    closeSystemBus();
  }
  SystemBusAddress(const SystemBusAddress&) = delete;
  SystemBusAddress& operator=(const SystemBusAddress&) = delete;
  ~SystemBusAddress() {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kNoSystemBus, 1);
    closeSystemBus();
  }
};

}  // namespace relaydash::testing
