#include "runtime/socket.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <string>

#include "runtime/event_loop.hpp"
#include "runtime/stream_layer.hpp"

namespace relaydash {
namespace {

struct Pair {
  FileDescriptor a, b;
};

Pair socketPair() {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

Task<std::string> readAll(Socket& s) {
  std::string all;
  char chunk[1000];
  for (;;) {
    const std::size_t n = co_await s.read(chunk);
    if (n == 0) co_return all;
    all.append(chunk, n);
  }
}

TEST(Socket, LargeWritesAndReadsInterleaveOnOneLoop) {
  EventLoop loop;
  auto [a, b] = socketPair();
  Socket writer(std::move(a));
  Socket reader(std::move(b));
  EXPECT_EQ(loop.watchedCount(), 2u);

  // Larger than the socket buffers, so the writer must wait for the reader.
  const std::string head(3'000'000, 'x');
  const std::string tail = "end";
  auto writeAndClose = [&]() -> Task<void> {
    const iovec pieces[] = {{const_cast<char*>(head.data()), head.size()},
                            {const_cast<char*>(tail.data()), tail.size()}};
    EXPECT_TRUE(co_await writer.write(pieces));
    writer.close();
  };
  loop.spawn(writeAndClose());
  const std::string got = loop.blockOn(readAll(reader));
  EXPECT_EQ(got, head + tail);
  EXPECT_EQ(loop.watchedCount(), 1u);
}

// A layer that holds its bytes itself (a TLS session with records read ahead): after a plain read
// found the socket drained, what the layer still holds is read without waiting for the socket.
class HeldBytes final : public StreamLayer {
 public:
  std::string held = "head|body";
  ssize_t receive(std::span<char> into, bool& drained) noexcept override {
    const std::size_t bar = held.find('|');
    const std::size_t n = bar == std::string::npos ? held.size() : bar + 1;
    held.copy(into.data(), n);
    held.erase(0, n);
    drained = held.empty();
    return static_cast<ssize_t>(n);
  }
  ssize_t send(const iovec*, std::size_t) noexcept override { return -1; }
  bool established() const noexcept override { return true; }
  void finish() noexcept override {}
};

TEST(Socket, BytesALayerHoldsAreReadWithoutWaitingForTheSocket) {
  EventLoop loop;
  auto [a, b] = socketPair();
  Socket writer(std::move(a));
  Socket reader(std::move(b));
  reader.setShortReadsDrain();
  ASSERT_EQ(::send(writer.fd(), "hello", 5, 0), 5);
  char first[100];
  ASSERT_EQ(reader.readNow(first), std::optional<std::size_t>(5));  // short: drained
  HeldBytes layer;
  reader.setLayer(&layer);
  std::string got;
  loop.spawn([](Socket& s, std::string& out) -> Task<void> {
    char chunk[100];
    for (int i = 0; i < 2; ++i)
      out.append(chunk, co_await s.read(chunk));
  }(reader, got));
  loop.runFor(std::chrono::milliseconds(0));
  EXPECT_EQ(got, "head|body");

  // The same when the layer's first bytes were taken without waiting.
  reader.setLayer(nullptr);
  ASSERT_EQ(::send(writer.fd(), "hello", 5, 0), 5);
  ASSERT_EQ(reader.readNow(first), std::optional<std::size_t>(5));
  layer.held = "head|body";
  reader.setLayer(&layer);
  ASSERT_EQ(reader.readNow(first), std::optional<std::size_t>(5));
  got.clear();
  loop.spawn([](Socket& s, std::string& out) -> Task<void> {
    char chunk[100];
    out.append(chunk, co_await s.read(chunk));
  }(reader, got));
  loop.runFor(std::chrono::milliseconds(0));
  EXPECT_EQ(got, "body");
}

TEST(Socket, WritingToAPeerThatHasGoneIsNotAnError) {
  EventLoop loop;
  auto [a, b] = socketPair();
  Socket writer(std::move(a));
  b.reset();
  const bool delivered = loop.blockOn(
      [&]() -> Task<bool> { co_return co_await writer.write(std::string_view("hello")); }());
  EXPECT_FALSE(delivered);
}

TEST(Socket, AnInterruptedReadSeesEndOfStreamAndWritesGoOn) {
  EventLoop loop;
  auto [a, b] = socketPair();
  Socket local(std::move(a));
  Socket remote(std::move(b));
  std::string got = "unset";
  bool resumed = false;
  auto reader = [&]() -> Task<void> {
    got = co_await readAll(local);
    resumed = true;
  };
  loop.spawn(reader());
  EXPECT_FALSE(resumed);  // parked: nothing was sent
  local.interrupt();
  // Resumed before interrupt() returned, at end of stream.
  EXPECT_TRUE(resumed);
  EXPECT_EQ(got, "");

  // Later reads end at once, even with bytes waiting; writing still reaches the peer.
  ASSERT_TRUE(loop.blockOn([&]() -> Task<bool> { co_return co_await remote.write("late"); }()));
  EXPECT_EQ(loop.blockOn(readAll(local)), "");
  ASSERT_TRUE(loop.blockOn([&]() -> Task<bool> { co_return co_await local.write("ok"); }()));
  char reply[2];
  EXPECT_EQ(loop.blockOn([&]() -> Task<std::size_t> { co_return co_await remote.read(reply); }()),
            2u);
}

TEST(Socket, AnInterruptedWriteEndsAsIfThePeerHadGoneAndTheWritesAfterItToo) {
  EventLoop loop;
  auto [a, b] = socketPair();
  Socket local(std::move(a));
  Socket remote(std::move(b));
  // More than the buffers hold, and the peer reads nothing: the write parks.
  const std::string big(3'000'000, 'x');
  int delivered = -1;
  bool progressed = false;
  auto writer = [&]() -> Task<void> {
    local.takeWriteProgress();
    delivered = co_await local.write(big);
  };
  loop.spawn(writer());
  EXPECT_EQ(delivered, -1);
  // What went before it parked was progress; the peer taking some lets more go.
  EXPECT_TRUE(local.takeWriteProgress());
  EXPECT_FALSE(local.takeWriteProgress());
  char piece[65536];
  for (int i = 0; i < 100 && !progressed; ++i) {
    EXPECT_GT(::recv(remote.fd(), piece, sizeof piece, 0), 0);
    loop.runOnce(0);
    progressed = local.takeWriteProgress();
  }
  EXPECT_TRUE(progressed);
  EXPECT_EQ(delivered, -1);

  local.interrupt();
  // Resumed before interrupt() returned: the peer counts as gone.
  EXPECT_EQ(delivered, 0);
  EXPECT_FALSE(loop.blockOn([&]() -> Task<bool> { co_return co_await local.write("late"); }()));
}

}  // namespace
}  // namespace relaydash
