#include "transport/connection_registry.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/event_loop.hpp"

namespace relaydash {
namespace {

using State = ConnectionState;

// Connections on socket pairs, tracked in one registry; nothing is parked on them, so ending
// one only marks it.
class Registry : public ::testing::Test {
 protected:
  struct Connection {
    Connection(FileDescriptor mine, FileDescriptor theirs)
        : socket(std::move(mine)), peer(std::move(theirs)) {}
    Socket socket;
    FileDescriptor peer;
    std::unique_ptr<TrackedConnection> tracked;
  };

  EventLoop loop;
  ConnectionRegistry registry{100, 250};
  std::deque<Connection> connections;

  TrackedConnection& open() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    Connection& c = connections.emplace_back(FileDescriptor(fds[0]), FileDescriptor(fds[1]));
    c.tracked = std::make_unique<TrackedConnection>(registry, c.socket);
    return *c.tracked;
  }

  // Reclaims until nothing can be, and says which connections went, in order.
  std::vector<std::size_t> reclaimAll() {
    std::vector<std::size_t> order;
    while (registry.reclaimOne()) {
      for (std::size_t i = 0; i < connections.size(); ++i) {
        const Connection& c = connections[i];
        if (c.tracked->reclaimed() && c.socket.interrupted() &&
            std::find(order.begin(), order.end(), i) == order.end()) {
          order.push_back(i);
        }
      }
    }
    return order;
  }
};

TEST_F(Registry, ReclaimsIdleThenHeadsLongestWaitingFirstAndNeverBusy) {
  TrackedConnection& busy = open();  // 0: the oldest, but busy
  busy.enter(State::Busy);
  TrackedConnection& fresh = open();  // 1: accepted, nothing read yet
  TrackedConnection& idleLater = open();
  TrackedConnection& idleFirst = open();
  idleFirst.enter(State::Idle);  // 3
  idleLater.enter(State::Busy);
  idleLater.enter(State::Idle);  // 2: idle after 3
  TrackedConnection& nextRequest = open();
  nextRequest.enter(State::Idle);
  nextRequest.enter(State::Head);  // 4: its next request started after 1 was accepted
  fresh.enter(State::Head);        // staying in a state keeps the place

  EXPECT_TRUE(registry.canReclaim());
  EXPECT_EQ(registry.count(State::Idle), 2u);
  EXPECT_EQ(registry.count(State::Head), 2u);
  EXPECT_EQ(reclaimAll(), (std::vector<std::size_t>{3, 2, 1, 4}));
  EXPECT_FALSE(registry.canReclaim());
  EXPECT_EQ(registry.count(State::Busy), 1u);
  EXPECT_FALSE(busy.reclaimed());
  EXPECT_FALSE(connections[0].socket.interrupted());

  // An ended connection stays out of the queues whatever it does next, and when it goes.
  idleFirst.enter(State::Busy);
  connections.pop_back();
  EXPECT_EQ(registry.count(State::Busy), 1u);
  EXPECT_FALSE(registry.canReclaim());
}

TEST_F(Registry, HeadBytesAreLimitedPerHeadAndInTotal) {
  TrackedConnection& a = open();
  TrackedConnection& b = open();
  TrackedConnection& c = open();
  EXPECT_TRUE(a.chargeHead(60));
  EXPECT_FALSE(a.chargeHead(41));  // 101 bytes for one head
  EXPECT_EQ(a.headBytes(), 60u);
  EXPECT_TRUE(a.chargeHead(40));  // exactly the limit
  EXPECT_TRUE(b.chargeHead(90));
  EXPECT_TRUE(c.chargeHead(60));
  EXPECT_EQ(registry.headBytes(), 250u);  // exactly the total

  // One byte more: the largest other head is refused to make room (the first of equals).
  EXPECT_TRUE(c.chargeHead(1));
  EXPECT_TRUE(a.refused());
  EXPECT_TRUE(connections[0].socket.interrupted());
  EXPECT_EQ(registry.headBytes(), 151u);
  EXPECT_EQ(registry.count(State::Head), 2u);

  // When this head is the largest, it is the one refused, and nothing is counted.
  TrackedConnection& d = open();
  EXPECT_TRUE(d.chargeHead(95));
  EXPECT_FALSE(d.chargeHead(5));  // 251 in total; d (100) is larger than b (90)
  EXPECT_FALSE(b.refused());
  EXPECT_EQ(registry.headBytes(), 246u);

  // A completed head no longer counts, nor does a connection that has gone.
  b.enter(State::Busy);
  EXPECT_EQ(b.headBytes(), 0u);
  EXPECT_EQ(registry.headBytes(), 156u);
  connections.pop_back();
  EXPECT_EQ(registry.headBytes(), 61u);
}

}  // namespace
}  // namespace relaydash
