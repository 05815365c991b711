#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "runtime/task.hpp"

struct sd_bus_message;

namespace relaydash {

// Asking over the system bus failed. `unreachable` when the bus itself could not be had (no
// libsystemd, no bus socket, connection refused or lost); otherwise the bus answered but the
// call failed (an error reply, no reply in time).
class BusError : public std::runtime_error {
 public:
  BusError(const std::string& message, bool unreachable)
      : std::runtime_error(message), unreachable_(unreachable) {}
  bool unreachable() const noexcept { return unreachable_; }

 private:
  bool unreachable_;
};

// A property's value: strings and object paths as text, the unsigned integers (y, q, u, t) as
// numbers, booleans. Values of other types are not kept.
using BusValue = std::variant<std::string, std::uint64_t, bool>;
using BusProperties = std::vector<std::pair<std::string, BusValue>>;

// One method call. The arguments are all strings (s).
struct BusCall {
  const char* destination;
  std::string path;
  const char* interface;
  const char* member;
  std::vector<std::string> arguments;
};

// One reply: the message, or the error D-Bus answered with ("org.freedesktop.DBus.Error.
// UnknownObject" and its text). Owns its message.
class BusReply {
 public:
  BusReply() = default;
  BusReply(const BusReply&) = delete;
  BusReply& operator=(const BusReply&) = delete;
  BusReply(BusReply&& other) noexcept : message_(std::exchange(other.message_, nullptr)) {}
  BusReply& operator=(BusReply&& other) noexcept {
    if (this != &other) reset(std::exchange(other.message_, nullptr));
    return *this;
  }
  ~BusReply() { reset(); }

  void reset(sd_bus_message* message = nullptr) noexcept;

  // The D-Bus name of the error when the reply is one, else empty.
  std::string errorName() const;
  std::string errorMessage() const;
  bool failed() const { return !errorName().empty(); }

  // The reply of Properties.GetAll (a{sv}), values of unkept types left out. Raises BusError
  // for an error reply or one not of that form. Each reads the message once.
  BusProperties propertyMap();
  // The reply of Properties.Get (v); nullopt for a value of a type not kept. Raises as
  // propertyMap.
  std::optional<BusValue> variant();

 private:
  sd_bus_message* message_ = nullptr;
};

// Sends the calls at once on the process's one connection to the system bus
// (DBUS_SYSTEM_BUS_ADDRESS when set) and waits on the event loop for every reply, at most
// `timeout`. Connects at the first call and again after the connection broke. Error replies
// are answers; raises BusError when the bus cannot be reached or a reply does not come in time.
Task<std::vector<BusReply>> callSystemBus(std::vector<BusCall> calls,
                                          std::chrono::milliseconds timeout);

// Drops the connection, if any: the next call connects again (to the address set then).
void closeSystemBus() noexcept;

// The object path of a unit of systemd's manager, "/org/freedesktop/systemd1/unit/ssh_2eservice"
// for "ssh.service". Raises BusError when libsystemd cannot be had.
std::string unitObjectPath(const std::string& unit);

// Tells the operator how systemd is asked, on the first call and whenever it changes: over
// D-Bus (nullopt), or through the command-line tools because of `failure`.
void noteSystemdWay(const std::optional<std::string>& failure);

// Tells the operator that a question ("the units", "the clock") got no answer over the bus
// that works otherwise, so that its tool is run instead: once for each failure, not again while
// the same question fails the same way.
void noteBusCallFailure(const std::string& question, const std::string& failure);

}  // namespace relaydash
