#pragma once

#include <sys/eventfd.h>

#include <functional>
#include <future>
#include <thread>

#include "runtime/event_loop.hpp"
#include "runtime/socket.hpp"

namespace relaydash::testing {

// Runs a server on its own thread and event loop, so a test can talk to it with ordinary
// blocking sockets. `start` runs on that thread with the loop in place; it starts serving
// (typically by spawning a task) and returns the port. Whatever `start` refers to must outlive
// the ServerThread. Destruction stops the loop, destroys its tasks and joins the thread.
class ServerThread {
 public:
  explicit ServerThread(std::function<int()> start) {
    std::promise<int> ready;
    auto port = ready.get_future();
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread([this, start = std::move(start), ready = std::move(ready)]() mutable {
      EventLoop loop;
      try {
        ready.set_value(start());
      } catch (...) {
        ready.set_exception(std::current_exception());
        return;
      }
      loop.spawn([](int fd, EventLoop& l) -> Task<void> {
        Socket stop{FileDescriptor(::dup(fd))};
        // Registering reports a stop that came before the wait.
        stop.setDrained();
        co_await stop.readable();
        l.stop();
      }(stopFd_, loop));
      loop.run();
    });
    try {
      port_ = port.get();
    } catch (...) {
      thread_.join();
      ::close(stopFd_);
      throw;
    }
  }
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;
  ~ServerThread() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
  }

  int port() const noexcept { return port_; }

 private:
  int stopFd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace relaydash::testing
