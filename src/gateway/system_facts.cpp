#include "gateway/system_facts.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cstdlib>
#include <exception>
#include <memory>

#include "gateway/command.hpp"
#include "gateway/system_bus.hpp"
#include "gateway/text_file.hpp"
#include "runtime/process.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;

std::string_view trim(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// Calls f(line) for each line of the text.
template <typename F>
void forEachLine(std::string_view text, F&& f) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    f(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

// An os-release value: shell-like, optionally in double or single quotes, with backslash escapes
// inside double quotes.
std::string unquote(std::string_view value) {
  value = trim(value);
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
      value.back() != value.front()) {
    return std::string(value);
  }
  const char quote = value.front();
  value = value.substr(1, value.size() - 2);
  if (quote == '\'') return std::string(value);
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    out += value[i];
  }
  return out;
}

std::optional<std::string> readOs() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    try {
      return osPrettyName(readTextFile(path));
    } catch (const std::exception&) {
    }
  }
  return std::nullopt;
}

std::optional<FileSystemSpace> readSpace(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  FileSystemSpace space;
  space.path = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  struct statvfs info {};
  if (::statvfs(space.path.c_str(), &info) != 0) return std::nullopt;
  const auto unit = static_cast<std::uint64_t>(info.f_frsize ? info.f_frsize : info.f_bsize);
  space.totalBytes = static_cast<std::uint64_t>(info.f_blocks) * unit;
  space.freeBytes = static_cast<std::uint64_t>(info.f_bavail) * unit;
  return space;
}

int prefixLength(const sockaddr* mask) {
  if (!mask) return 0;
  int bits = 0;
  if (mask->sa_family == AF_INET) {
    bits = std::popcount(reinterpret_cast<const sockaddr_in*>(mask)->sin_addr.s_addr);
  } else if (mask->sa_family == AF_INET6) {
    for (const unsigned char byte : reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr.s6_addr)
      bits += std::popcount(byte);
  }
  return bits;
}

std::vector<NetworkInterface> readInterfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
  std::vector<NetworkInterface> interfaces;
  const auto entryFor = [&interfaces](const char* name) -> NetworkInterface& {
    for (NetworkInterface& i : interfaces) {
      if (i.name == name) return i;
    }
    return interfaces.emplace_back(NetworkInterface{name, {}});
  };
  // Two passes, so every interface's IPv4 addresses come before its IPv6 ones.
  for (const int family : {AF_UNSPEC, AF_INET, AF_INET6}) {
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
      if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK) || !a->ifa_name) continue;
      NetworkInterface& entry = entryFor(a->ifa_name);
      if (family == AF_UNSPEC || !a->ifa_addr || a->ifa_addr->sa_family != family) continue;
      char text[INET6_ADDRSTRLEN] = {};
      const void* address =
          family == AF_INET ? static_cast<const void*>(
                                  &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr)
                            : static_cast<const void*>(
                                  &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr);
      if (!::inet_ntop(family, address, text, sizeof text)) continue;
      entry.addresses.push_back(std::string(text) + "/" +
                                std::to_string(prefixLength(a->ifa_netmask)));
    }
  }
  return interfaces;
}

}  // namespace

std::optional<std::string> osPrettyName(std::string_view osRelease) {
  std::optional<std::string> name;
  forEachLine(osRelease, [&name](std::string_view line) {
    line = trim(line);
    if (line.starts_with("PRETTY_NAME=")) name = unquote(line.substr(12));
  });
  return name;
}

MemoryInfo parseMeminfo(std::string_view meminfo) {
  MemoryInfo info;
  forEachLine(meminfo, [&info](std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view key = line.substr(0, colon);
    std::string_view value = trim(line.substr(colon + 1));
    std::uint64_t kib = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), kib);
    if (error != std::errc() || trim(std::string_view(end, value.data() + value.size())) != "kB")
      return;
    if (key == "MemTotal") info.totalBytes = kib * 1024;
    if (key == "MemAvailable") info.availableBytes = kib * 1024;
  });
  return info;
}

SystemFacts readSystemFacts(const std::string& storagePath) {
  SystemFacts facts;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) facts.hostname = host;
  facts.os = readOs();
  struct utsname system {};
  if (::uname(&system) == 0) {
    facts.kernel = std::string(system.sysname) + " " + system.release + " " + system.machine;
  }
  struct sysinfo info {};
  if (::sysinfo(&info) == 0) facts.uptimeSeconds = static_cast<std::int64_t>(info.uptime);
  std::array<double, 3> load{};
  if (::getloadavg(load.data(), 3) == 3) facts.load = load;
  try {
    const MemoryInfo memory = parseMeminfo(readTextFile("/proc/meminfo"));
    facts.memoryTotalBytes = memory.totalBytes;
    facts.memoryAvailableBytes = memory.availableBytes;
  } catch (const std::exception&) {
  }
  facts.storage = readSpace(storagePath);
  facts.interfaces = readInterfaces();
  return facts;
}

Task<std::optional<bool>> readClockSynchronized() {
  try {
    // timedated may have to be started by D-Bus first, which takes a moment on a small board.
    std::vector<BusCall> calls{BusCall{"org.freedesktop.timedate1",
                                       "/org/freedesktop/timedate1",
                                       "org.freedesktop.DBus.Properties",
                                       "Get",
                                       {"org.freedesktop.timedate1", "NTPSynchronized"}}};
    std::vector<BusReply> replies = co_await callSystemBus(std::move(calls), 5s);
    const std::optional<BusValue> value = replies.front().variant();
    noteSystemdWay(std::nullopt);
    const bool* synchronized = value ? std::get_if<bool>(&*value) : nullptr;
    co_return synchronized ? std::optional<bool>(*synchronized) : std::nullopt;
  } catch (const BusError& e) {
    if (e.unreachable()) {
      noteSystemdWay(e.what());
    } else {
      noteBusCallFailure("the clock", e.what());
    }
  }
  std::vector<std::string> argv{"timedatectl", "show", "--property=NTPSynchronized"};
  const ProcessResult result =
      co_await runTool(std::move(argv), {.maxOutput = 4096, .timeout = 5s});
  std::optional<bool> synchronized;
  forEachLine(result.output, [&synchronized](std::string_view line) {
    line = trim(line);
    if (line == "NTPSynchronized=yes") synchronized = true;
    if (line == "NTPSynchronized=no") synchronized = false;
  });
  co_return synchronized;
}

}  // namespace relaydash
