#include "gateway/system_bus.hpp"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>

#include "gateway/libsystemd.hpp"
#include "runtime/alarm.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"
#include "runtime/socket.hpp"
#include "runtime/wait_any.hpp"

namespace relaydash {
namespace {

using Clock = EventLoop::Clock;

// Bounds on what one turn reads: messages handled before other work gets the loop, and the
// properties of one reply.
constexpr int kMessagesPerTurn = 256;
constexpr std::size_t kMaxProperties = 4096;
// How soon to try again when sd-bus has bytes it could not write yet: the loop watches the
// descriptor for input only, and a full socket buffer towards the bus is rare.
constexpr auto kWriteRetry = std::chrono::milliseconds(5);

const Libsystemd& functions() {
  std::string why;
  const Libsystemd* f = libsystemd(why);
  if (f == nullptr) throw BusError(why, true);
  return *f;
}

std::string describe(int negativeError) {
  return std::strerror(-negativeError);
}

// The connection, closed and released when the last call that uses it has finished.
class Connection {
 public:
  Connection(const Libsystemd& f, sd_bus* bus) : f_(f), bus_(bus) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    f_.close(bus_);
    f_.unref(bus_);
  }
  sd_bus* get() const noexcept { return bus_; }

 private:
  const Libsystemd& f_;
  sd_bus* bus_;
};

std::shared_ptr<Connection>& current() {
  static std::shared_ptr<Connection> connection;
  return connection;
}

std::shared_ptr<Connection> connect(const Libsystemd& f) {
  std::shared_ptr<Connection>& held = current();
  if (held && f.isOpen(held->get()) <= 0) held.reset();
  if (!held) {
    sd_bus* bus = nullptr;
    const int r = f.openSystem(&bus);
    if (r < 0) throw BusError("could not connect to the system bus: " + describe(r), true);
    held = std::make_shared<Connection>(f, bus);
  }
  return held;
}

// Forgets the connection, but only if it is still the current one: another call may have made
// a new one meanwhile.
[[noreturn]] void dropAndRaise(const std::shared_ptr<Connection>& broken, const std::string& what,
                               int negativeError) {
  if (current() == broken) current().reset();
  throw BusError(what + ": " + describe(negativeError), true);
}

struct SlotRelease {
  const Libsystemd* f;
  void operator()(sd_bus_slot* slot) const noexcept { f->slotUnref(slot); }
};
struct MessageRelease {
  const Libsystemd* f;
  void operator()(sd_bus_message* message) const noexcept { f->messageUnref(message); }
};
using SlotHandle = std::unique_ptr<sd_bus_slot, SlotRelease>;
using MessageHandle = std::unique_ptr<sd_bus_message, MessageRelease>;

// The replies of one callSystemBus, filled in by sd-bus's callbacks, which may run while
// another call is processing the connection: the alarm wakes the waiting call then.
struct Batch {
  const Libsystemd* f;
  std::vector<BusReply> replies;
  std::size_t left;
  Alarm* alarm;
  std::exception_ptr failure;
};

struct Pending {
  Batch* batch;
  std::size_t index;
};

int onReply(sd_bus_message* message, void* userdata, sd_bus_error*) {
  const Pending& pending = *static_cast<Pending*>(userdata);
  Batch& batch = *pending.batch;
  batch.replies[pending.index].reset(batch.f->messageRef(message));
  if (--batch.left == 0) {
    // An exception must not cross sd-bus: the waiting call raises it.
    try {
      batch.alarm->set(Clock::now());
    } catch (...) {
      batch.failure = std::current_exception();
    }
  }
  return 0;
}

// The bus's descriptor, as a descriptor of our own for the loop to watch: sd-bus owns and
// closes its own.
FileDescriptor duplicate(int fd) {
  FileDescriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (!copy) raiseOSError();
  return copy;
}

void check(int r, const char* what) {
  if (r < 0)
    throw BusError(std::string("could not read the reply (") + what + "): " + describe(r), false);
}

std::optional<BusValue> readVariant(const Libsystemd& f, sd_bus_message* m) {
  char type = 0;
  const char* contents = nullptr;
  check(f.peekType(m, &type, &contents), "peek");
  if (type != 'v' || contents == nullptr) throw BusError("the reply holds no variant", false);
  if (std::strlen(contents) != 1 || std::strchr("sotuqyb", contents[0]) == nullptr) {
    check(f.skip(m, "v"), "skip");
    return std::nullopt;
  }
  check(f.enterContainer(m, 'v', contents), "variant");
  BusValue value;
  switch (contents[0]) {
    case 's':
    case 'o': {
      const char* text = nullptr;
      check(f.readBasic(m, contents[0], &text), "text");
      value = std::string(text ? text : "");
      break;
    }
    case 't': {
      std::uint64_t n = 0;
      check(f.readBasic(m, 't', &n), "t");
      value = n;
      break;
    }
    case 'u': {
      std::uint32_t n = 0;
      check(f.readBasic(m, 'u', &n), "u");
      value = std::uint64_t{n};
      break;
    }
    case 'q': {
      std::uint16_t n = 0;
      check(f.readBasic(m, 'q', &n), "q");
      value = std::uint64_t{n};
      break;
    }
    case 'y': {
      std::uint8_t n = 0;
      check(f.readBasic(m, 'y', &n), "y");
      value = std::uint64_t{n};
      break;
    }
    default: {  // 'b', read as an int
      int b = 0;
      check(f.readBasic(m, 'b', &b), "b");
      value = b != 0;
    }
  }
  check(f.exitContainer(m), "variant");
  return value;
}

}  // namespace

void BusReply::reset(sd_bus_message* message) noexcept {
  if (message_ != nullptr) {
    // A message exists only where the library was loaded.
    std::string why;
    libsystemd(why)->messageUnref(message_);
  }
  message_ = message;
}

std::string BusReply::errorName() const {
  if (message_ == nullptr) return "org.freedesktop.DBus.Error.NoReply";
  const Libsystemd& f = functions();
  if (f.isMethodError(message_, nullptr) <= 0) return {};
  const sd_bus_error* error = f.getError(message_);
  return error && error->name ? error->name : "org.freedesktop.DBus.Error.Failed";
}

std::string BusReply::errorMessage() const {
  if (message_ == nullptr) return "no reply";
  const sd_bus_error* error = functions().getError(message_);
  return error && error->message ? error->message : "";
}

BusProperties BusReply::propertyMap() {
  if (failed()) throw BusError(errorName() + ": " + errorMessage(), false);
  const Libsystemd& f = functions();
  sd_bus_message* m = message_;
  check(f.enterContainer(m, 'a', "{sv}"), "array");
  BusProperties properties;
  for (std::size_t i = 0; i < kMaxProperties; ++i) {
    const int r = f.enterContainer(m, 'e', "sv");
    check(r, "entry");
    if (r == 0) break;
    const char* name = nullptr;
    check(f.readBasic(m, 's', &name), "name");
    std::string key(name ? name : "");
    if (std::optional<BusValue> value = readVariant(f, m))
      properties.emplace_back(std::move(key), std::move(*value));
    check(f.exitContainer(m), "entry");
  }
  check(f.exitContainer(m), "array");
  return properties;
}

std::optional<BusValue> BusReply::variant() {
  if (failed()) throw BusError(errorName() + ": " + errorMessage(), false);
  return readVariant(functions(), message_);
}

Task<std::vector<BusReply>> callSystemBus(std::vector<BusCall> calls,
                                          std::chrono::milliseconds timeout) {
  const Libsystemd& f = functions();
  // Declared before the slots, so that they are released while the bus still exists.
  const std::shared_ptr<Connection> connection = connect(f);
  sd_bus* bus = connection->get();
  Alarm alarm;
  Batch batch{&f, std::vector<BusReply>(calls.size()), calls.size(), &alarm, {}};
  std::vector<Pending> pending;
  pending.reserve(calls.size());
  std::vector<SlotHandle> slots;
  slots.reserve(calls.size());
  const auto usec = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const BusCall& call = calls[i];
    sd_bus_message* raw = nullptr;
    int r = f.newMethodCall(bus, &raw, call.destination, call.path.c_str(), call.interface,
                            call.member);
    if (r < 0) dropAndRaise(connection, "could not make a call on the system bus", r);
    const MessageHandle message(raw, MessageRelease{&f});
    for (const std::string& argument : call.arguments) {
      r = f.appendBasic(raw, 's', argument.c_str());
      if (r < 0) throw BusError("could not write a call's argument: " + describe(r), false);
    }
    pending.push_back(Pending{&batch, i});
    sd_bus_slot* slot = nullptr;
    r = f.callAsync(bus, &slot, raw, onReply, &pending.back(), usec);
    if (r < 0) dropAndRaise(connection, "could not send a call on the system bus", r);
    slots.emplace_back(slot, SlotRelease{&f});
  }
  const int fd = f.getFd(bus);
  if (fd < 0) dropAndRaise(connection, "the system bus has no connection", fd);
  Socket watched(duplicate(fd));
  watched.setSharedDescriptor();

  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int handled = 0;
    for (; handled < kMessagesPerTurn; ++handled) {
      const int r = f.process(bus, nullptr);
      if (r < 0) dropAndRaise(connection, "the system bus connection failed", r);
      if (r == 0) break;
    }
    if (batch.failure) std::rethrow_exception(batch.failure);
    if (batch.left == 0) break;
    const auto now = Clock::now();
    if (now >= deadline) {
      throw BusError(
          "the system bus gave no answer within " + std::to_string(timeout.count()) + " ms", false);
    }
    if (handled == kMessagesPerTurn) {
      co_await Yield();
      continue;
    }
    const int events = f.getEvents(bus);
    if (events < 0) dropAndRaise(connection, "the system bus connection failed", events);
    auto wake = deadline;
    std::uint64_t until = 0;
    if (f.getTimeout(bus, &until) >= 0 && until != UINT64_MAX) {
      // sd-bus counts on CLOCK_MONOTONIC too.
      const Clock::time_point at(
          std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(until)));
      wake = std::min(wake, at);
    }
    if (events & POLLOUT) wake = std::min(wake, now + kWriteRetry);
    alarm.set(wake);
    const std::array<Socket*, 2> sockets{&watched, &alarm.socket()};
    co_await ReadableAny(sockets);
  }
  co_return std::move(batch.replies);
}

void closeSystemBus() noexcept {
  current().reset();
}

std::string unitObjectPath(const std::string& unit) {
  const Libsystemd& f = functions();
  char* path = nullptr;
  const int r = f.pathEncode("/org/freedesktop/systemd1/unit", unit.c_str(), &path);
  if (r < 0) throw BusError("could not name the unit's object: " + describe(r), false);
  const std::unique_ptr<char, decltype(&std::free)> owned(path, &std::free);
  return path;
}

void noteSystemdWay(const std::optional<std::string>& failure) {
  static std::optional<bool> overBus;
  if (overBus == !failure) return;
  overBus = !failure;
  if (*overBus) {
    printLine("systemd is asked over D-Bus");
  } else {
    printLine("systemd's D-Bus API cannot be reached (" + *failure +
              "): systemctl and timedatectl are run instead");
  }
}

void noteBusCallFailure(const std::string& question, const std::string& failure) {
  static std::map<std::string, std::string, std::less<>> last;
  std::string& before = last[question];
  if (before == failure) return;
  before = failure;
  printLine("systemd gave no answer over D-Bus for " + question + " (" + failure +
            "): its command-line tool is run instead");
}

}  // namespace relaydash
