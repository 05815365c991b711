#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/task.hpp"

namespace relaydash {

struct NetworkInterface {
  std::string name;
  // "192.168.1.5/24", "fe80::1/64": address and prefix length, IPv4 first as the system lists
  // them.
  std::vector<std::string> addresses;
};

struct FileSystemSpace {
  std::string path;  // the directory asked about
  std::uint64_t totalBytes = 0;
  std::uint64_t freeBytes = 0;  // what an unprivileged process may still use
};

// Facts about the gateway itself, read from the kernel and /etc; each is nullopt (or empty)
// where the system does not tell.
struct SystemFacts {
  std::string hostname;
  std::optional<std::string> os;  // PRETTY_NAME of os-release
  std::string kernel;             // "Linux 6.1.0-rpi7-rpi-v7 armv7l"
  std::optional<std::int64_t> uptimeSeconds;
  std::optional<std::array<double, 3>> load;  // 1, 5 and 15 minutes
  std::optional<std::uint64_t> memoryTotalBytes;
  std::optional<std::uint64_t> memoryAvailableBytes;
  std::optional<FileSystemSpace> storage;
  std::vector<NetworkInterface> interfaces;  // those that are up, the loopback left out
};

// Reads the facts; `storagePath` is a file whose file system's space is reported (the space of
// the directory that holds it). Reads only /proc, /etc and system calls that answer at once.
SystemFacts readSystemFacts(const std::string& storagePath);

// PRETTY_NAME from the text of an os-release file, unquoted ("Debian GNU/Linux 12 (bookworm)").
std::optional<std::string> osPrettyName(std::string_view osRelease);

// MemTotal and MemAvailable of /proc/meminfo, in bytes.
struct MemoryInfo {
  std::optional<std::uint64_t> totalBytes;
  std::optional<std::uint64_t> availableBytes;
};
MemoryInfo parseMeminfo(std::string_view meminfo);

// Whether the system clock is synchronised, as timedated says over D-Bus, or timedatectl where
// the bus gives no answer (systemd 239 and later); nullopt when they answer without saying.
// Raises CommandError when timedatectl cannot be run, fails (no timedated, a systemd too old for
// `show`) or does not answer within 5 s.
Task<std::optional<bool>> readClockSynchronized();

}  // namespace relaydash
