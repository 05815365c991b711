#include "transport/connection_registry.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
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
  ConnectionRegistry registry{250};
  std::deque<Connection> connections;

  TrackedConnection& open() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    Connection& c = connections.emplace_back(FileDescriptor(fds[0]), FileDescriptor(fds[1]));
    c.tracked = std::make_unique<TrackedConnection>(registry, c.socket);
    return *c.tracked;
  }

  // Reclaims until nothing can be, and says which connections went, in order.
  std::vector<std::size_t> reclaimAll(TrackedConnection::Clock::time_point now) {
    std::vector<std::size_t> order;
    while (registry.reclaimOne(now)) {
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

using namespace std::chrono_literals;
const TrackedConnection::Clock::time_point t0{};

TEST_F(Registry, ReclaimsIdleThenHeadsThenStalledBodiesLongestWaitingFirstAndNeverBusy) {
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
  // Bodies are taken by their last progress, once they have had none for a second.
  TrackedConnection& steady = open();  // 5: started first, but a byte arrived just now
  steady.enter(State::Body, t0);
  TrackedConnection& stalledFirst = open();  // 6
  stalledFirst.enter(State::Body, t0 + 100ms);
  TrackedConnection& stalledLater = open();  // 7
  stalledLater.enter(State::Body, t0 + 200ms);
  steady.progressed(t0 + 1500ms);

  EXPECT_EQ(registry.count(State::Idle), 2u);
  EXPECT_EQ(registry.count(State::Head), 2u);
  EXPECT_EQ(registry.count(State::Body), 3u);
  EXPECT_EQ(reclaimAll(t0 + 1999ms), (std::vector<std::size_t>{3, 2, 1, 4, 6, 7}));
  EXPECT_EQ(registry.reclaimed(), 6u);  // counted for monitoring
  EXPECT_FALSE(registry.canReclaim(t0 + 1999ms));
  EXPECT_FALSE(steady.reclaimed());
  EXPECT_TRUE(registry.canReclaim(t0 + 2500ms));  // now it has stalled too
  EXPECT_EQ(registry.count(State::Busy), 1u);
  EXPECT_FALSE(busy.reclaimed());
  EXPECT_FALSE(connections[0].socket.interrupted());

  // An ended connection stays out of the queues whatever it does next, and when it goes.
  idleFirst.enter(State::Busy);
  stalledFirst.progressed(t0 + 3s);
  connections.pop_back();
  EXPECT_EQ(registry.count(State::Busy), 1u);
  EXPECT_EQ(registry.count(State::Body), 1u);
}

TEST_F(Registry, BodiesWithoutProgressForTheLimitAreEndedOldestFirst) {
  TrackedConnection& a = open();
  TrackedConnection& b = open();
  TrackedConnection& c = open();
  a.enter(State::Body, t0);
  b.enter(State::Body, t0 + 10s);
  c.enter(State::Body, t0 + 20s);
  a.progressed(t0 + 30s);                                        // a byte keeps a body alive
  EXPECT_EQ(registry.endStalledBodies(t0 + 5s, 60s), t0 + 70s);  // b's turn comes next
  EXPECT_EQ(registry.endStalledBodies(t0 + 20s, 60s), t0 + 90s);
  EXPECT_TRUE(b.reclaimed());
  EXPECT_TRUE(c.reclaimed());
  EXPECT_TRUE(connections[2].socket.interrupted());
  EXPECT_FALSE(a.reclaimed());
  a.enter(State::Busy);  // its procedure runs: no longer a body, however long that takes
  EXPECT_EQ(registry.endStalledBodies(t0 + 1h, 60s), std::nullopt);
  EXPECT_FALSE(a.reclaimed());
  // Closed for stalling, not to make room at the descriptor ceiling.
  EXPECT_EQ(registry.reclaimed(), 0u);
}

// A byte handed to the kernel the way a write parked on the socket hands it, when the peer
// takes some.
void sendAByte(Socket& socket) {
  Socket::WriteAll write = socket.write("x");
  EXPECT_TRUE(write.await_ready());
}

TEST_F(Registry, StalledAnswersAreReclaimedLastLongestStalledFirstAndMovingOnesNever) {
  TrackedConnection& stalledLater = open();  // 0
  TrackedConnection& moving = open();        // 1: the first to send, but its peer takes some
  TrackedConnection& stalledFirst = open();  // 2
  TrackedConnection& body = open();          // 3
  moving.enter(State::Busy);
  moving.startSending(t0);
  stalledFirst.enter(State::Busy);
  stalledFirst.startSending(t0 + 100ms);
  stalledLater.enter(State::Busy);
  stalledLater.startSending(t0 + 200ms);
  body.enter(State::Body, t0 + 300ms);
  sendAByte(connections[1].socket);
  EXPECT_EQ(registry.count(State::Sending), 3u);
  EXPECT_EQ(registry.count(State::Busy), 0u);

  // Not a second yet for any but the one that moved, which counts from when it was seen moving.
  EXPECT_FALSE(registry.canReclaim(t0 + 1099ms));
  // The body first, then the answers by how long they have waited.
  EXPECT_EQ(reclaimAll(t0 + 1300ms), (std::vector<std::size_t>{3, 2, 0}));
  EXPECT_FALSE(moving.reclaimed());
  EXPECT_FALSE(registry.canReclaim(t0 + 2098ms));
  EXPECT_TRUE(registry.canReclaim(t0 + 2099ms));  // still since then
  // Its answer written, the connection is busy with its request again, however long it takes.
  moving.doneSending(t0 + 2400ms);
  EXPECT_EQ(moving.state(), State::Busy);
  EXPECT_FALSE(registry.canReclaim(t0 + 1h));
}

TEST_F(Registry, AnAnswerWaitingWhileABodyIsReadGivesTheBodyItsTimeAgain) {
  TrackedConnection& c = open();
  c.enter(State::Body, t0);
  c.startSending(t0 + 5s);
  EXPECT_EQ(registry.endStalledBodies(t0 + 30s, 60s), std::nullopt);
  c.doneSending(t0 + 50s);
  EXPECT_EQ(c.state(), State::Body);
  EXPECT_EQ(c.lastProgress(), t0 + 50s);
  EXPECT_EQ(registry.endStalledBodies(t0 + 30s, 60s), t0 + 110s);
}

TEST_F(Registry, AnswersWhosePeerTakesNothingForTheLimitAreEnded) {
  TrackedConnection& a = open();
  TrackedConnection& b = open();
  a.enter(State::Busy);
  a.startSending(t0);
  // What the socket wrote before the answer had to wait does not count.
  sendAByte(connections[0].socket);
  a.doneSending(t0 + 1s);
  a.startSending(t0 + 1s);
  b.enter(State::Busy);
  b.startSending(t0 + 10s);
  EXPECT_EQ(registry.endStalledSenders(t0 + 30s, t0 - 30s, 60s), t0 + 61s);
  // a's peer takes a byte: at the next look it counts from then, and b, still, is ended.
  sendAByte(connections[0].socket);
  EXPECT_EQ(registry.endStalledSenders(t0 + 70s, t0 + 10s, 60s), t0 + 130s);
  EXPECT_TRUE(b.reclaimed());
  EXPECT_FALSE(a.reclaimed());
  EXPECT_EQ(registry.endStalledSenders(t0 + 130s, t0 + 70s, 60s), std::nullopt);
  EXPECT_TRUE(a.reclaimed());
  EXPECT_TRUE(connections[0].socket.interrupted());
}

TEST_F(Registry, MemoryOfRequestsInHandIsLimitedInTotalRefusingTheLargestStillBeingRead) {
  TrackedConnection& a = open();
  TrackedConnection& b = open();
  TrackedConnection& c = open();
  EXPECT_TRUE(a.hold(100));
  EXPECT_TRUE(b.hold(90));
  b.enter(State::Body, t0);  // a head that is complete still holds its memory
  EXPECT_TRUE(c.hold(60));
  EXPECT_EQ(registry.heldBytes(), 250u);  // exactly the total

  // One byte more: the largest other is refused to make room.
  EXPECT_TRUE(c.hold(61));
  EXPECT_TRUE(a.refused());
  EXPECT_TRUE(connections[0].socket.interrupted());
  EXPECT_EQ(registry.heldBytes(), 151u);
  EXPECT_EQ(registry.count(State::Head), 1u);

  // A body being read may be refused too, but a request whose procedure runs never is: when
  // this one holds the most of those that may be, it is the one refused, and nothing changes.
  TrackedConnection& d = open();
  EXPECT_TRUE(d.hold(95));  // 246
  b.enter(State::Busy);
  EXPECT_FALSE(d.hold(100));  // 251: b (90) cannot be refused, c (61) holds less than d would
  EXPECT_FALSE(b.refused());
  EXPECT_FALSE(c.refused());
  EXPECT_EQ(registry.heldBytes(), 246u);
  // Back to reading a body, it may be refused again when it holds the most.
  EXPECT_TRUE(c.hold(0));
  EXPECT_TRUE(d.hold(80));
  b.enter(State::Body, t0);
  EXPECT_TRUE(c.hold(85));  // 255: b (90) holds more than d (80) and c
  EXPECT_TRUE(b.refused());
  EXPECT_FALSE(d.refused());

  // An answered request holds nothing, nor does a connection that has gone.
  EXPECT_EQ(registry.heldBytes(), 165u);
  EXPECT_TRUE(d.hold(0));
  EXPECT_EQ(registry.heldBytes(), 85u);
  connections.pop_back();
  connections.pop_back();
  EXPECT_EQ(registry.heldBytes(), 0u);
}

}  // namespace
}  // namespace relaydash
