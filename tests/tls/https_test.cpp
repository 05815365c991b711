#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <string>

#include "runtime/event_loop.hpp"
#include "support/loopback_client.hpp"
#include "support/server_thread.hpp"
#include "support/temp_dir.hpp"
#include "support/tls_client.hpp"
#include "tls/tls_server.hpp"
#include "transport/answer_writer.hpp"
#include "transport/async_http_server.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackClient;
using testing::ServerThread;
using testing::TlsClient;
using testing::TlsOffer;

// Answers "secure PATH" or "plain PATH"; /big answers 200,000 bytes.
Task<void> sayHowItCame(Request& request) {
  if (request.url.path == "/big") {
    static const std::string big(200000, 'b');
    co_await request.writer->write(200, {}, big);
    co_return;
  }
  const std::string body = (request.secure ? "secure " : "plain ") + request.url.path;
  co_await request.writer->write(200, {}, body);
}

std::string bodyOf(const std::string& answer) {
  const auto end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

std::string get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}

// A ClientHello in TLS records of at most 16 KiB, naming a server of `nameLength` bytes.
std::string clientHello(std::size_t nameLength) {
  auto u16 = [](std::size_t v) { return std::string{char(v >> 8), char(v & 255)}; };
  const std::string name(nameLength, 'a');
  const std::string sni =
      u16(0) + u16(nameLength + 5) + u16(nameLength + 3) + '\0' + u16(nameLength) + name;
  std::string body = std::string("\x03\x03", 2) + std::string(32, '\x11') + '\0' + u16(4) +
                     std::string("\x13\x01\xc0\x2b", 4) + std::string("\x01\x00", 2) +
                     u16(sni.size()) + sni;
  std::string message = std::string(1, '\x01') + char(body.size() >> 16) +
                        char((body.size() >> 8) & 255) + char(body.size() & 255) + body;
  std::string records;
  for (std::size_t at = 0; at < message.size(); at += 16384) {
    const std::string part = message.substr(at, 16384);
    records += std::string("\x16\x03\x01", 3) + u16(part.size()) + part;
  }
  return records;
}

class Https : public ::testing::Test {
 protected:
  Https() : tls_(TlsSettings{true, dir_ / "installed", false}, dir_ / "state") { start(); }

  void start() {
    thread_.reset();
    server_ = std::make_unique<AsyncHttpServer>(true, false, 4096);
    server_->setSecureLayers(
        [this](int fd, std::string_view received) { return tls_.open(fd, received); });
    thread_.emplace([this] {
      EventLoop::current().spawn(server_->serve(0, sayHowItCame, "127.0.0.1", 5));
      return server_->localPort();
    });
  }
  int port() const { return thread_->port(); }

  TempDir dir_;
  TlsServer tls_;
  std::unique_ptr<AsyncHttpServer> server_;
  std::optional<ServerThread> thread_;
};

TEST_F(Https, TheSamePortAnswersTlsAndPlainHttp) {
  ASSERT_TRUE(tls_.on()) << tls_.summary().why;
  TlsClient modern(port());
  EXPECT_EQ(modern.version(), "TLSv1.3");
  EXPECT_EQ(modern.alpn(), "http/1.1");
  // Keep-alive, and two requests in one write.
  modern.send(get("/a"));
  EXPECT_EQ(bodyOf(modern.readAnswer()), "secure /a");
  modern.send(get("/b") + get("/c"));
  EXPECT_EQ(bodyOf(modern.readAnswer()), "secure /b");
  EXPECT_EQ(bodyOf(modern.readAnswer()), "secure /c");
  // A large answer goes out in many records, whole.
  modern.send(get("/big"));
  EXPECT_EQ(bodyOf(modern.readAnswer()).size(), 200000u);

  TlsOffer tls12;
  tls12.maxVersion = TLS1_2_VERSION;
  tls12.ciphers = "ECDHE-ECDSA-CHACHA20-POLY1305";
  tls12.alpn = std::string("\x02h2\x08http/1.1", 12);
  TlsClient older(port(), tls12);
  EXPECT_EQ(older.version(), "TLSv1.2");
  EXPECT_EQ(older.alpn(), "http/1.1");
  older.send(get("/d"));
  EXPECT_EQ(bodyOf(older.readAnswer()), "secure /d");

  LoopbackClient plain(port());
  plain.send(get("/e"));
  EXPECT_EQ(bodyOf(plain.readAnswer()), "plain /e");
}

TEST_F(Https, OldProtocolsAndCiphersWithoutForwardSecrecyOrAeadAreRefused) {
  TlsOffer tls11;
  tls11.maxVersion = TLS1_1_VERSION;
  EXPECT_THROW(TlsClient(port(), tls11), std::runtime_error);
  for (const char* weak :
       {"AES128-GCM-SHA256", "ECDHE-ECDSA-AES128-SHA", "ECDHE-ECDSA-AES256-SHA384",
        "DHE-RSA-AES128-GCM-SHA256", "AECDH-AES128-SHA"}) {
    TlsOffer offer;
    offer.maxVersion = TLS1_2_VERSION;
    offer.ciphers = weak;
    EXPECT_THROW(TlsClient(port(), offer), std::runtime_error) << weak;
  }
  TlsClient good(port());
  good.send(get("/still"));
  EXPECT_EQ(bodyOf(good.readAnswer()), "secure /still");
}

TEST_F(Https, ATicketResumesUntilItsKeyIsTwoTurnsOld) {
  auto first = [this] {
    TlsClient client(port());
    client.send(get("/t"));
    EXPECT_EQ(bodyOf(client.readAnswer()), "secure /t");
    return client.session();
  }();
  ASSERT_NE(first, nullptr);
  TlsOffer again;
  again.session = first.get();
  {
    TlsClient resumed(port(), again);
    EXPECT_TRUE(resumed.resumed());
  }
  // The keys turn over on the loop's thread in the server; here, between two runs of it.
  thread_.reset();
  tls_.rotateTicketKeys();
  start();
  {
    TlsClient resumed(port(), again);
    EXPECT_TRUE(resumed.resumed()) << "sealed with the key before the current one";
  }
  thread_.reset();
  tls_.rotateTicketKeys();
  start();
  TlsClient full(port(), again);
  EXPECT_FALSE(full.resumed());
  full.send(get("/u"));
  EXPECT_EQ(bodyOf(full.readAnswer()), "secure /u");
}

TEST_F(Https, BrokenHandshakesEndAloneAndDisturbNobody) {
  TlsClient steady(port());
  steady.send(get("/1"));
  EXPECT_EQ(bodyOf(steady.readAnswer()), "secure /1");

  LoopbackClient garbage(port());
  garbage.send("\x16 this is not a TLS record\r\n\r\n");
  EXPECT_TRUE(garbage.closedByPeer());

  // 65,000 bytes of server name, over four records: refused with an alert, then closed.
  LoopbackClient hugeName(port());
  hugeName.send(clientHello(65000));
  EXPECT_TRUE(hugeName.closedByPeer());

  // Half a ClientHello, then silence: the server waits for the rest without holding up others.
  const std::string hello = clientHello(20);
  LoopbackClient halfway(port());
  halfway.send(hello.substr(0, hello.size() / 2));
  LoopbackClient silent(port());
  TlsClient newcomer(port());
  newcomer.send(get("/2"));
  EXPECT_EQ(bodyOf(newcomer.readAnswer()), "secure /2");
  steady.send(get("/3"));
  EXPECT_EQ(bodyOf(steady.readAnswer()), "secure /3");
  EXPECT_FALSE(halfway.closedByPeer(50ms));

  // A client that goes away in the middle of its handshake.
  {
    LoopbackClient gone(port());
    gone.send(hello.substr(0, 10));
  }
  LoopbackClient plain(port());
  plain.send(get("/4"));
  EXPECT_EQ(bodyOf(plain.readAnswer()), "plain /4");
}

// At the descriptor ceiling a handshake that never finishes is an unfinished head: idle
// connections make room first, then it goes, oldest first, never a busy connection.
TEST(HttpsAtTheCeiling, AHalfOpenHandshakeMakesRoomAfterIdleConnections) {
  TempDir dir;
  TlsServer tls(TlsSettings{true, dir / "installed", false}, dir / "state");
  ASSERT_TRUE(tls.on()) << tls.summary().why;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    const rlimit limit{39, 39};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EventLoop loop;
    AsyncHttpServer server(true, false, 4096);
    server.setSecureLayers(
        [&tls](int fd, std::string_view received) { return tls.open(fd, received); });
    loop.spawn(server.serve(0, sayHowItCame, "127.0.0.1", 5));
    const int port = server.localPort();
    [[maybe_unused]] auto n = ::write(ready[1], &port, sizeof port);
    ::close(ready[1]);
    loop.runFor(std::chrono::seconds(20));
    ::_exit(0);
  }
  ::close(ready[1]);
  int port = 0;
  ASSERT_EQ(::read(ready[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
  ::close(ready[0]);

  const std::string hello = clientHello(20);
  LoopbackClient halfway(port);
  halfway.send(hello.substr(0, hello.size() / 2));
  TlsClient idle(port);
  idle.send(get("/idle"));
  EXPECT_EQ(bodyOf(idle.readAnswer()), "secure /idle");
  // Busy connections (a body announced, not sent) fill the table up to its ceiling.
  std::vector<std::unique_ptr<LoopbackClient>> busy;
  auto addBusy = [&] {
    busy.push_back(std::make_unique<LoopbackClient>(port));
    busy.back()->send("POST /b HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n");
    return busy.back()->readAnswer(3s);
  };
  while (!idle.tcp().closedByPeer(0ms) && busy.size() < 40) {
    ASSERT_EQ(addBusy(), "HTTP/1.1 100 Continue\r\n\r\n");
  }
  EXPECT_FALSE(halfway.closedByPeer(50ms)) << "the idle connection goes first";
  EXPECT_EQ(addBusy(), "HTTP/1.1 100 Continue\r\n\r\n");
  EXPECT_TRUE(halfway.closedByPeer(1s));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace relaydash
