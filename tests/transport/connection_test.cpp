#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "runtime/event_loop.hpp"
#include "support/loopback_client.hpp"
#include "support/server_thread.hpp"
#include "transport/answer_writer.hpp"
#include "transport/async_http_server.hpp"
#include "transport/request_parser.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackClient;
using testing::ServerThread;

// Answers every request with what the transport parsed, one field per line.
Task<void> echo(Request& request) {
  std::string body;
  body += "method=" + std::string(methodName(request.reqMethod)) + "\n";
  body += "path=" + request.url.path + "\n";
  body += "query=" + request.url.query + "\n";
  body += "version=" + std::to_string(request.protocol.major) + "." +
          std::to_string(request.protocol.minor) + "\n";
  for (const auto& [name, values] : request.headers) {
    body += "header " + name + "=";
    for (const auto& v : values)
      body += "[" + v + "]";
    body += "\n";
  }
  body += "body=" + request.body;
  co_await request.writer->write(200, {}, body);
}

// A body far larger than what the buffers between the server and a peer hold together.
const std::string& bigBody() {
  static const std::string body(4 << 20, 'b');
  return body;
}

// /big is answered with bigBody(), written from where it lies; the rest is echoed.
Task<void> echoOrBig(Request& request) {
  if (request.url.path == "/big") {
    co_await request.writer->write(200, {}, bigBody());
  } else {
    co_await echo(request);
  }
}

class Transport : public ::testing::Test {
 protected:
  AsyncHttpServer server{true, false, 4096};
  ServerThread thread{[this] {
    EventLoop::current().spawn(server.serve(0, echo, "127.0.0.1", 5));
    return server.localPort();
  }};

  int port() const { return thread.port(); }

  // Sends the bytes on a new connection and returns everything until the server closes it.
  std::string exchange(const std::string& bytes) {
    LoopbackClient client(port());
    client.send(bytes);
    client.shutdownWrite();
    return client.readUntilClosed();
  }
};

TEST_F(Transport, EchoesAWellFormedRequest) {
  LoopbackClient client(port());
  client.send("GET /a/b?x=1 HTTP/1.1\r\nHost: h\r\nAccept: a, b ,c\r\nCookie: x=1, y=2\r\n\r\n");
  const std::string answer = client.readAnswer();
  EXPECT_NE(answer.find("method=GET\npath=/a/b\nquery=x=1\nversion=1.1\n"), std::string::npos);
  EXPECT_NE(answer.find("header accept=[a][b ][c]\n"), std::string::npos);
  EXPECT_NE(answer.find("header cookie=[x=1, y=2]\n"), std::string::npos);
}

TEST_F(Transport, KeepAliveFollowsVersionAndConnectionHeader) {
  struct Case {
    std::string request;
    bool keptOpen;
  } cases[] = {
      {"GET / HTTP/1.1\r\n\r\n", true},
      {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", false},
      {"GET / HTTP/1.1\r\nConnection: CLOSE\r\n\r\n", false},
      {"GET / HTTP/1.0\r\n\r\n", false},
      {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", true},
      {"GET / HTTP/1.1\r\nConnection: keep-alive, Upgrade\r\n\r\n", false},
      {"GET / HTTP/2.0\r\n\r\n", false},
      {"GET /\r\n\r\n", false},  // no version: 0.0
  };
  for (const Case& c : cases) {
    LoopbackClient client(port());
    client.send(c.request);
    EXPECT_NE(client.readAnswer().find("200 OK"), std::string::npos) << c.request;
    if (c.keptOpen) {
      client.send("GET /second HTTP/1.1\r\n\r\n");
      EXPECT_NE(client.readAnswer().find("path=/second"), std::string::npos) << c.request;
    } else {
      EXPECT_TRUE(client.closedByPeer()) << c.request;
    }
  }
}

TEST_F(Transport, EmptyLinesBeforeTheRequestLine) {
  LoopbackClient one(port());
  one.send("\r\nGET /one HTTP/1.1\r\n\r\n");
  EXPECT_NE(one.readAnswer().find("path=/one"), std::string::npos);

  // The second empty line is the request line: 400, then the real request is served.
  LoopbackClient two(port());
  two.send("\r\n\r\nGET /two HTTP/1.1\r\n\r\n");
  EXPECT_EQ(two.readAnswer(),
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 15\r\n\r\n400 Bad Request");
  EXPECT_NE(two.readAnswer().find("path=/two"), std::string::npos);

  // Lone LF and lone CR end lines too.
  LoopbackClient three(port());
  three.send("GET /three HTTP/1.1\nHost: x\r\r\n");
  EXPECT_NE(three.readAnswer().find("path=/three\n"), std::string::npos);
}

TEST_F(Transport, MalformedRequestLinesAreAnsweredAndTheConnectionGoesOn) {
  const std::string bad = "HTTP/1.1 400 Bad Request\r\nContent-Length: 15\r\n\r\n400 Bad Request";
  for (const std::string line :
       {"get / HTTP/1.1", "GET / HTTP/1.1 ", "GET / FTP/1.1", "GET / HTTP/1.1 x y"}) {
    LoopbackClient client(port());
    client.send(line + "\r\nGET /next HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readAnswer(), bad) << line;
    EXPECT_NE(client.readAnswer().find("path=/next"), std::string::npos) << line;
  }
}

TEST_F(Transport, LineLengthLimit) {
  const std::string tooLong =
      "HTTP/1.1 413 Request Entity Too Large\r\nContent-Length: 28\r\n\r\n"
      "413 Request Entity Too Large";
  // A header line of exactly 8192 characters is accepted; 8193 is refused and closes.
  const std::string name = "X-Long: ";
  const std::string ok(8192 - name.size(), 'a');
  LoopbackClient accepted(port());
  accepted.send("GET / HTTP/1.1\r\n" + name + ok + "\r\n\r\n");
  EXPECT_NE(accepted.readAnswer().find("200 OK"), std::string::npos);

  EXPECT_EQ(exchange("GET / HTTP/1.1\r\n" + name + ok + "a\r\n\r\n"), tooLong);
  // A request line too long is refused as soon as it is too long, line end or not.
  LoopbackClient hanging(port());
  hanging.send("GET /" + std::string(9000, 'p'));
  EXPECT_EQ(hanging.readUntilClosed(), tooLong);
}

TEST_F(Transport, BodyLimitAndContentLengthForms) {
  const std::string body4096(4096, 'b');
  LoopbackClient client(port());
  client.send("POST /p HTTP/1.1\r\nContent-Length: 4096\r\n\r\n" + body4096);
  EXPECT_NE(client.readAnswer().find("body=" + body4096), std::string::npos);

  EXPECT_EQ(exchange("POST /p HTTP/1.1\r\nContent-Length: 4097\r\n\r\n" + body4096 + "b"),
            "HTTP/1.1 413 Request Entity Too Large\r\nContent-Length: 28\r\n\r\n"
            "413 Request Entity Too Large");

  LoopbackClient forms(port());
  forms.send("POST /p HTTP/1.1\r\nContent-Length: 12abc\r\n\r\nhello world!");
  EXPECT_NE(forms.readAnswer().find("body=hello world!"), std::string::npos);
  forms.send("POST /p HTTP/1.1\r\nContent-Length: +5\r\n\r\nhello");
  EXPECT_NE(forms.readAnswer().find("body=hello"), std::string::npos);
  forms.send("POST /p HTTP/1.1\r\nContent-Length: 1_0\r\n\r\n0123456789");
  EXPECT_NE(forms.readAnswer().find("body=0123456789"), std::string::npos);
  forms.send("POST /p HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n");
  EXPECT_NE(forms.readAnswer().find("413"), std::string::npos);
  EXPECT_TRUE(forms.closedByPeer());
}

TEST_F(Transport, ContentLengthErrors) {
  LoopbackClient client(port());
  client.send("POST /p HTTP/1.1\r\nContent-Length: abc\r\n\r\n");
  EXPECT_EQ(client.readAnswer(),
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 36\r\n\r\n"
            "Bad Request. Invalid Content-Length.");
  client.send("POST /p HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.readAnswer(),
            "HTTP/1.1 411 Length Required\r\nContent-Length: 24\r\n\r\nContent-Length required.");
  // Other methods need no Content-Length.
  client.send("PUT /p HTTP/1.1\r\n\r\n");
  EXPECT_NE(client.readAnswer().find("method=PUT"), std::string::npos);

  EXPECT_EQ(exchange("POST /p HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort"),
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 50\r\n\r\n"
            "Bad Request. Content-Length does not match actual.");
}

TEST_F(Transport, ExpectHeaderOnPost) {
  LoopbackClient client(port());
  client.send("POST /p HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\n");
  const std::string interim = client.readFor();
  EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
  client.send("ok");
  EXPECT_NE(client.readAnswer().find("body=ok"), std::string::npos);

  client.send("POST /p HTTP/1.1\r\nExpect: something\r\nContent-Length: 2\r\n\r\nok");
  EXPECT_EQ(client.readAnswer(), "HTTP/1.1 417 Expectation Failed\r\n\r\n");
  EXPECT_NE(client.readAnswer().find("body=ok"), std::string::npos);

  // Only POST looks at Expect.
  client.send("GET /g HTTP/1.1\r\nExpect: something\r\n\r\n");
  EXPECT_NE(client.readAnswer().find("path=/g"), std::string::npos);
}

TEST_F(Transport, TooManyHeaderNamesEndTheConnection) {
  std::string request = "GET / HTTP/1.1\r\n";
  for (int i = 0; i <= 10000; ++i)
    request.append("h").append(std::to_string(i)).append(": v\r\n");
  request += "\r\n";
  EXPECT_EQ(exchange(request), "HTTP/1.1 400 Bad Request\r\n\r\n");

  std::string tenThousand = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 10000; ++i)
    tenThousand.append("h").append(std::to_string(i)).append(": v\r\n");
  LoopbackClient client(port());
  client.send(tenThousand + "\r\n");
  EXPECT_NE(client.readAnswer().find("200 OK"), std::string::npos);
}

// A GET of /big whose request line and header lines hold exactly `bytes` (line ends not
// counted), in distinct lines of 4,000 to 8,000 characters without commas. The empty line
// that would end the head is not there.
std::string headOf(std::size_t bytes) {
  std::string head = "GET /big HTTP/1.1\r\n";
  const std::size_t rest = bytes - (head.size() - 2);
  const std::size_t lines = (rest + 7999) / 8000;
  for (std::size_t i = 0; i < lines; ++i) {
    std::string name = "h";
    name += std::to_string(i);
    name += ": ";
    const std::size_t length = rest / lines + (i < rest % lines ? 1 : 0);
    head += name;
    head.append(length - name.size(), 'v');
    head += "\r\n";
  }
  return head;
}

TEST_F(Transport, AHeadHoldsAtMostOneMebibyte) {
  const std::string refused = "HTTP/1.1 400 Bad Request\r\n\r\n";
  LoopbackClient atTheLimit(port());
  atTheLimit.send(headOf(1024 * 1024) + "\r\n");
  EXPECT_NE(atTheLimit.readAnswer().find("path=/big"), std::string::npos);
  atTheLimit.send("GET /after HTTP/1.1\r\n\r\n");
  EXPECT_NE(atTheLimit.readAnswer().find("path=/after"), std::string::npos);

  EXPECT_EQ(exchange(headOf(1024 * 1024 + 1) + "\r\n"), refused);

  // Values split at commas are each stored apart and count as more: 70,000 characters of
  // commas are refused.
  std::string commas = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 10; ++i)
    commas.append("h").append(std::to_string(i)).append(":").append(7000, ',').append("\r\n");
  EXPECT_EQ(exchange(commas + "\r\n"), refused);
}

TEST_F(Transport, UnfinishedHeadsShareABudgetThatRefusesTheLargest) {
  // As parsed, one of these heads holds three times its bytes and a little more: 10 fit in
  // 32 MiB together, 11 do not.
  const std::string head = headOf(1'040'000);
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (int i = 0; i < 40; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(port()));
    try {
      clients.back()->send(head);
    } catch (const std::runtime_error&) {
      // Refused while it was still sending.
    }
  }
  // All 40 heads are unfinished, so at least 30 are refused once the server has read them.
  const auto refusedSoFar = [&] {
    std::vector<pollfd> fds;
    for (const auto& client : clients)
      fds.push_back({client->fd(), POLLIN, 0});
    ::poll(fds.data(), fds.size(), 100);
    return std::count_if(fds.begin(), fds.end(), [](const pollfd& p) { return p.revents != 0; });
  };
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (refusedSoFar() < 30 && std::chrono::steady_clock::now() < deadline) {
  }
  // A small request still gets through: the budget makes room at the large heads' expense.
  LoopbackClient ordinary(port());
  ordinary.send("GET /small HTTP/1.1\r\n\r\n");
  EXPECT_NE(ordinary.readAnswer().find("path=/small"), std::string::npos);

  int refused = 0;
  int answered = 0;
  for (auto& client : clients) {
    try {
      client->send("\r\n");
    } catch (const std::runtime_error&) {
    }
    const std::string answer = client->readAnswer();
    if (answer == "HTTP/1.1 400 Bad Request\r\n\r\n") {
      ++refused;
      EXPECT_TRUE(client->closedByPeer());
    } else if (answer.find("path=/big") != std::string::npos) {
      ++answered;
    }
  }
  // At least 30 must go; each refusal frees at least a tenth of the budget and needs as much
  // read again before the next, so at most 32 do.
  EXPECT_GE(refused, 30);
  EXPECT_LE(refused, 32);
  EXPECT_EQ(refused + answered, 40);
}

TEST_F(Transport, PipelinedRequestsAreAnsweredInOrder) {
  LoopbackClient client(port());
  std::string burst;
  for (int i = 0; i < 50; ++i) {
    burst += "POST /r" + std::to_string(i) + " HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
  }
  client.send(burst);
  for (int i = 0; i < 50; ++i) {
    EXPECT_NE(client.readAnswer().find("path=/r" + std::to_string(i) + "\n"), std::string::npos);
  }
}

TEST_F(Transport, ASlowClientDoesNotBlockAnother) {
  LoopbackClient slow(port());
  slow.send("POST /slow HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
  LoopbackClient fast(port());
  fast.send("GET /fast HTTP/1.1\r\n\r\n");
  EXPECT_NE(fast.readAnswer().find("path=/fast"), std::string::npos);
  slow.send("defghij");
  EXPECT_NE(slow.readAnswer().find("body=abcdefghij"), std::string::npos);
}

TEST_F(Transport, PeersThatVanishMidRequestDoNotDisturbTheServer) {
  for (const std::string partial : {"GET / HT", "GET / HTTP/1.1\r\nHost: x",
                                    "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc"}) {
    LoopbackClient client(port());
    client.send(partial);
  }
  {
    // Reset instead of an orderly close.
    LoopbackClient client(port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    linger hard{1, 0};
    ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  LoopbackClient after(port());
  after.send("GET /alive HTTP/1.1\r\n\r\n");
  EXPECT_NE(after.readAnswer().find("path=/alive"), std::string::npos);
}

// A transport server in a child process whose open-files limit is small, so that the
// descriptor ceiling is what limits it: with 39 descriptors the ceiling is 38; 5 are kept for
// the work, 6 are open besides the sockets when it starts (the standard streams, the pipe to
// the parent, the loop's epoll set and timer) and one is for the next connection, so the
// listener and 25 connections are open at once. A body counts as stalled after `stalledAfter`
// and is closed after `bodyLimit`; an answer whose peer takes nothing counts as stalled after
// `stalledAfter` too, and is closed after `sendLimit`.
class SmallServer {
 public:
  explicit SmallServer(std::chrono::milliseconds stalledAfter = 1h,
                       std::chrono::milliseconds bodyLimit = 1h,
                       std::chrono::milliseconds sendLimit = 1h) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    child_ = ::fork();
    if (child_ == 0) {
      // Only the descriptors the server needs stay open, so the ceiling is what limits it.
      for (int fd = 3; fd < 1024; ++fd) {
        if (fd != ready[1]) ::close(fd);
      }
      const rlimit limit{39, 39};
      ::setrlimit(RLIMIT_NOFILE, &limit);
      EventLoop loop;
      AsyncHttpServer server(true, false, 4096);
      server.setStallLimits(stalledAfter, bodyLimit, sendLimit);
      loop.spawn(server.serve(0, echoOrBig, "127.0.0.1", 5));
      const int port = server.localPort();
      [[maybe_unused]] auto n = ::write(ready[1], &port, sizeof port);
      ::close(ready[1]);
      loop.runFor(std::chrono::seconds(20));
      ::_exit(0);
    }
    ::close(ready[1]);
    EXPECT_EQ(::read(ready[0], &port_, sizeof port_), static_cast<ssize_t>(sizeof port_));
    ::close(ready[0]);
  }
  SmallServer(const SmallServer&) = delete;
  SmallServer& operator=(const SmallServer&) = delete;
  ~SmallServer() {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }

  int port() const noexcept { return port_; }

 private:
  pid_t child_ = -1;
  int port_ = 0;
};

using Clients = std::vector<std::unique_ptr<LoopbackClient>>;

// A POST whose body has not come yet: once the interim answer is read, the server is reading
// the body and may not close the connection to make room.
void startBody(LoopbackClient& client, const std::string& path) {
  client.send("POST " + path + " HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n");
  EXPECT_EQ(client.readAnswer(3s), "HTTP/1.1 100 Continue\r\n\r\n") << path;
}

TEST(AcceptThrottle, AcceptingPausesAtTheDescriptorCeilingAndResumes) {
  SmallServer server;
  Clients clients;
  for (int i = 0; i < 25; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(server.port()));
    startBody(*clients.back(), "/c" + std::to_string(i));
  }
  // Every connection is busy: none can make room, so the next ones wait.
  for (int i = 25; i < 28; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(server.port()));
    clients.back()->send("GET /c" + std::to_string(i) + " HTTP/1.1\r\n\r\n");
  }
  for (std::size_t i = 25; i < clients.size(); ++i) {
    EXPECT_EQ(clients[i]->readFor(100ms), "") << i;
  }

  // Closing busy connections lets the waiting ones in at the next look.
  for (int i = 0; i < 5; ++i)
    clients[static_cast<std::size_t>(i)].reset();
  for (std::size_t i = 25; i < clients.size(); ++i) {
    EXPECT_NE(clients[i]->readAnswer(3s).find("path=/c" + std::to_string(i)), std::string::npos);
  }
}

TEST(AcceptThrottle, AtTheCeilingIdleConnectionsThenUnfinishedHeadsMakeRoomOldestFirst) {
  SmallServer server;
  LoopbackClient busy(server.port());
  startBody(busy, "/busy");
  LoopbackClient partial(server.port());
  partial.send("GET /partial HTTP/1.1\r\nHost: x\r\n");
  Clients idle;  // each answered before the next comes, so idle in this order
  for (int i = 0; i < 23; ++i) {
    idle.push_back(std::make_unique<LoopbackClient>(server.port()));
    idle.back()->send("GET /idle HTTP/1.1\r\n\r\n");
    EXPECT_NE(idle.back()->readAnswer(3s).find("200 OK"), std::string::npos) << i;
  }

  // At the ceiling now. Each newcomer (kept busy) closes the connection idle longest.
  Clients newcomers;
  newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
  startBody(*newcomers.back(), "/n0");
  EXPECT_TRUE(idle[0]->closedByPeer(1s));
  EXPECT_FALSE(idle[1]->closedByPeer(50ms));
  // Using a connection makes it the idle one most recently.
  idle[1]->send("GET /again HTTP/1.1\r\n\r\n");
  EXPECT_NE(idle[1]->readAnswer(3s).find("path=/again"), std::string::npos);
  newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
  startBody(*newcomers.back(), "/n1");
  EXPECT_TRUE(idle[2]->closedByPeer(1s));
  EXPECT_FALSE(idle[1]->closedByPeer(50ms));

  for (int i = 2; i < 23; ++i) {
    newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
    startBody(*newcomers.back(), "/n" + std::to_string(i));
  }
  for (std::size_t i = 0; i < idle.size(); ++i) {
    EXPECT_TRUE(idle[i]->closedByPeer(1s)) << i;
  }
  // No idle connection is left: the unfinished head goes next, without an answer.
  newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
  startBody(*newcomers.back(), "/n23");
  EXPECT_EQ(partial.readUntilClosed(1s), "");

  // Only busy connections are left: the next one waits, and the busy ones are never closed.
  LoopbackClient waiting(server.port());
  waiting.send("GET /waiting HTTP/1.1\r\n\r\n");
  EXPECT_EQ(waiting.readFor(100ms), "");
  busy.send("ok");
  EXPECT_NE(busy.readAnswer(3s).find("body=ok"), std::string::npos);
  // Its request over, the busy connection is idle: it makes room at the next look.
  EXPECT_NE(waiting.readAnswer(3s).find("path=/waiting"), std::string::npos);
  EXPECT_TRUE(busy.closedByPeer(1s));
}

TEST(AcceptThrottle, AtTheCeilingStalledBodiesMakeRoomLongestStalledFirst) {
  // Every body counts as stalled at once: the order is what is tested here.
  SmallServer server(0ms);
  Clients bodies;
  for (int i = 0; i < 25; ++i) {
    bodies.push_back(std::make_unique<LoopbackClient>(server.port()));
    startBody(*bodies.back(), "/b" + std::to_string(i));
  }
  // A byte of its body puts the first behind all the others.
  bodies[0]->send("o");
  LoopbackClient first(server.port());
  first.send("GET /first HTTP/1.1\r\n\r\n");
  EXPECT_NE(first.readAnswer(3s).find("path=/first"), std::string::npos);
  EXPECT_EQ(bodies[1]->readUntilClosed(1s), "");
  LoopbackClient second(server.port());
  startBody(second, "/second");
  EXPECT_EQ(bodies[2]->readUntilClosed(1s), "");
  EXPECT_FALSE(bodies[0]->closedByPeer(50ms));
  bodies[0]->send("k");
  EXPECT_NE(bodies[0]->readAnswer(3s).find("body=ok"), std::string::npos);
}

TEST(AcceptThrottle, ABodyThatStallsPastItsLimitIsClosedWithoutPressure) {
  SmallServer server(1h, 200ms);
  LoopbackClient idle(server.port());
  idle.send("GET /idle HTTP/1.1\r\n\r\n");
  EXPECT_NE(idle.readAnswer(3s).find("path=/idle"), std::string::npos);
  LoopbackClient partial(server.port());
  partial.send("GET /partial HTTP/1.1\r\n");
  LoopbackClient stalled(server.port());
  startBody(stalled, "/stalled");
  EXPECT_EQ(stalled.readUntilClosed(5s), "");
  // Only bodies have the limit: an idle connection and a head stay as long as their peers want.
  EXPECT_FALSE(idle.closedByPeer(0ms));
  partial.send("\r\n");
  EXPECT_NE(partial.readAnswer(3s).find("path=/partial"), std::string::npos);
}

// Asks for /big with a small receive buffer.
void sendForBig(LoopbackClient& client) {
  const int small = 16 * 1024;
  ::setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  client.send("GET /big HTTP/1.1\r\n\r\n");
}

bool answerStarted(const LoopbackClient& client, std::chrono::milliseconds limit) {
  pollfd answer{client.fd(), POLLIN, 0};
  return ::poll(&answer, 1, static_cast<int>(limit.count())) == 1;
}

// Asks for /big and waits until the answer starts to arrive: the server has written what the
// buffers take, and the rest of the answer waits for the socket.
void askForBig(LoopbackClient& client) {
  sendForBig(client);
  EXPECT_TRUE(answerStarted(client, 3s));
}

// Takes up to `size` bytes of what the server sends, waiting `limit` at most for each piece.
std::string take(LoopbackClient& client, std::size_t size, std::chrono::milliseconds limit = 3s) {
  std::string taken;
  char piece[4096];
  while (taken.size() < size) {
    pollfd readable{client.fd(), POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(limit.count())) <= 0) break;
    const ssize_t n = ::recv(client.fd(), piece, std::min(sizeof piece, size - taken.size()), 0);
    if (n <= 0) break;
    taken.append(piece, static_cast<std::size_t>(n));
  }
  return taken;
}

// The connection was reset by the server (what it had not taken is gone), seen without reading.
bool resetByServer(const LoopbackClient& client, std::chrono::milliseconds limit = 0ms) {
  pollfd p{client.fd(), 0, 0};
  return ::poll(&p, 1, static_cast<int>(limit.count())) == 1 && (p.revents & (POLLERR | POLLHUP));
}

const std::string kBigHead = "HTTP/1.1 200 OK\r\nContent-Length: 4194304\r\n\r\n";

TEST(AcceptThrottle, AtTheCeilingAnswersNobodyTakesMakeRoomAfterStalledBodies) {
  // Every body and every answer counts as stalled at once: the order is what is tested here.
  SmallServer server(0ms);
  Clients senders;
  for (int i = 0; i < 24; ++i) {
    senders.push_back(std::make_unique<LoopbackClient>(server.port()));
    askForBig(*senders.back());
  }
  LoopbackClient body(server.port());
  startBody(body, "/body");

  // At the ceiling: each newcomer (asking for /big too, so never idle) closes the stalled body,
  // then one stalled answer after the other, resetting its connection.
  const auto resets = [&] {
    return std::count_if(senders.begin(), senders.end(),
                         [](const auto& sender) { return resetByServer(*sender); });
  };
  Clients newcomers;
  newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
  askForBig(*newcomers.back());
  EXPECT_EQ(body.readUntilClosed(1s), "");
  EXPECT_EQ(resets(), 0);
  for (int n = 1; n <= 3; ++n) {
    newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
    askForBig(*newcomers.back());
    EXPECT_EQ(resets(), n);
  }

  // The others get all of their answer, byte for byte, and go on.
  for (const auto& sender : senders) {
    if (resetByServer(*sender)) continue;
    const std::string answer = take(*sender, kBigHead.size() + bigBody().size());
    EXPECT_TRUE(answer == kBigHead + bigBody()) << answer.size() << " bytes";
    sender->send("GET /after HTTP/1.1\r\n\r\n");
    EXPECT_NE(sender->readAnswer(3s).find("path=/after"), std::string::npos);
    break;
  }
}

TEST(AcceptThrottle, AtTheCeilingAReaderTakingItsAnswerSteadilyIsNeverTheOneClosed) {
  // Answers stall after the second of the real server.
  SmallServer server(1s);
  // The reader asks first: as the answer waiting longest, it is the first one looked at.
  LoopbackClient reader(server.port());
  askForBig(reader);
  Clients senders;
  for (int i = 0; i < 24; ++i) {
    senders.push_back(std::make_unique<LoopbackClient>(server.port()));
    askForBig(*senders.back());
  }
  // Newcomers come one after the other while the reader takes 16 KiB of its answer each time it
  // has looked at the newest one; each is let in once an answer has stalled for a second.
  std::string taken;
  Clients newcomers;
  std::size_t answered = 0;
  for (int i = 0; i < 2000 && answered < 3; ++i) {
    taken += take(reader, 16 * 1024);
    if (newcomers.size() == answered) {
      newcomers.push_back(std::make_unique<LoopbackClient>(server.port()));
      sendForBig(*newcomers.back());
    }
    answered += answerStarted(*newcomers.back(), 20ms);
  }
  EXPECT_EQ(answered, 3u);
  EXPECT_EQ(std::count_if(senders.begin(), senders.end(),
                          [](const auto& sender) { return resetByServer(*sender); }),
            3);
  EXPECT_FALSE(resetByServer(reader));
  EXPECT_LT(taken.size(), bigBody().size());  // its answer was still under way meanwhile
  taken += take(reader, kBigHead.size() + bigBody().size() - taken.size());
  EXPECT_TRUE(taken == kBigHead + bigBody()) << taken.size() << " bytes";
}

TEST(AcceptThrottle, AnAnswerWhosePeerTakesNothingIsClosedWithoutPressureASlowReaderNever) {
  // Long enough that the reader, reading a piece each time it has looked at the other, is
  // never still that long.
  SmallServer server(1h, 1h, 2s);
  LoopbackClient stalled(server.port());
  askForBig(stalled);
  LoopbackClient slow(server.port());
  askForBig(slow);
  std::string taken;
  // Until the stalled one is closed (after 2 to 4 s), the slow one takes 4 KiB now and then.
  bool closed = false;
  for (int i = 0; i < 1000 && !closed; ++i) {
    taken += take(slow, 4096);
    closed = resetByServer(stalled, 20ms);
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(taken.size(), bigBody().size() / 2);  // its answer was still waiting meanwhile
  taken += take(slow, kBigHead.size() + bigBody().size() - taken.size());
  EXPECT_TRUE(taken == kBigHead + bigBody()) << taken.size() << " bytes";
  // It goes on as any connection does.
  slow.send("GET /after HTTP/1.1\r\n\r\n");
  EXPECT_NE(slow.readAnswer(3s).find("path=/after"), std::string::npos);
}

}  // namespace
}  // namespace relaydash
