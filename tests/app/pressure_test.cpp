// The whole program under hostile load, spawned as a process: thousands of idle and trickling
// connections against a small descriptor limit, and heads built to exhaust memory. Memory is
// the program's resident size as the kernel reports it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "runtime/file_descriptor.hpp"
#include "support/child_process.hpp"
#include "support/free_port.hpp"
#include "support/loopback_client.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"

namespace relaydash::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kBinary = RELAYDASH_BINARY;
const std::string kSample =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";

// Sanitizer builds keep freed memory in quarantine: there the resident size says nothing about
// what the program holds, and only the answers are checked. Their runtime also opens a pipe the
// first time it checks a type, and at the descriptor ceiling the server has one descriptor to
// spare: the requests of the test are made once before the attack.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A connection that is only held (or fed by hand): nothing buffered, nothing read. It waits
// for the handshake until the deadline at most; after that it is left connecting.
FileDescriptor connectTo(int port, Clock::time_point deadline) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const sockaddr_in address = loopback(port);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno == EINPROGRESS) {
    pollfd connected{fd.get(), POLLOUT, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    ::poll(&connected, 1, static_cast<int>(std::max<long>(0, left.count())));
  }
  return fd;
}

// relaydash on its own port, database and configuration, optionally with few descriptors.
class Relaydash {
 public:
  // With a unit, the forwarder runs as that unit (under the stand-in for systemctl).
  explicit Relaydash(rlim_t openFiles = 0, const std::string& unit = "") {
    std::filesystem::copy_file(kSample, dir_ / "global_conf.json");
    std::vector<std::string> arguments{"--listen",
                                       "127.0.0.1",
                                       "--port",
                                       std::to_string(port_),
                                       "--dataPath",
                                       dir_ / "db.sqlite3",
                                       "--forwarderConfigPath",
                                       dir_ / "global_conf.json"};
    if (!unit.empty()) {
      arguments.push_back("--forwarderUnitServiceName");
      arguments.push_back(unit);
    }
    process_.emplace(kBinary, arguments, dir_.path().string(), openFiles);
    EXPECT_EQ(process_->readLine(), "starting relaydash v1.1.1");
    EXPECT_EQ(process_->readLine(), "Listening 127.0.0.1:" + std::to_string(port_));
    for (int i = 0; i < 200; ++i) {
      try {
        LoopbackClient probe(port_);
        return;
      } catch (const std::runtime_error&) {
        std::this_thread::sleep_for(10ms);
      }
    }
  }

  int port() const noexcept { return port_; }

  // VmRSS in KiB.
  long residentKiB() const { return statusKiB("VmRSS:"); }
  // The most it was resident at once, in KiB.
  long peakResidentKiB() const { return statusKiB("VmHWM:"); }

  // One call of the JSON API on a connection of its own; the whole answer.
  std::string call(const std::string& procedure, const std::string& body,
                   std::chrono::milliseconds limit = 10s) {
    LoopbackClient client(port_, limit);
    client.send("POST /rpc/v1/" + procedure +
                " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    return client.readAnswer(limit);
  }

  std::string get(LoopbackClient& client, const std::string& path,
                  std::chrono::milliseconds limit = 10s) {
    client.send("GET " + path + " HTTP/1.1\r\n\r\n");
    return client.readAnswer(limit);
  }

 private:
  long statusKiB(const std::string& field) const {
    std::ifstream status("/proc/" + std::to_string(process_->pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    }
    return -1;
  }

  TempDir dir_;
  const int port_ = freePort();
  std::optional<ChildProcess> process_;
};

bool answered(const std::string& answer, const std::string& body) {
  return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.find(body) != std::string::npos;
}

// Lets this process hold that many connections itself; false when the hard limit is lower.
bool canHold(rlim_t connections) {
  rlimit own{};
  ::getrlimit(RLIMIT_NOFILE, &own);
  if (own.rlim_max != RLIM_INFINITY && own.rlim_max < connections + 100) return false;
  own.rlim_cur = std::max<rlim_t>(own.rlim_cur, connections + 100);
  return ::setrlimit(RLIMIT_NOFILE, &own) == 0;
}

const std::string kCredentials = R"({"username":"admin","password":"quilm"})";

// The token in a sign-in's answer.
std::string tokenOf(const std::string& answer) {
  const std::string key = R"("auth":")";
  const std::size_t at = answer.find(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  return answer.substr(from, answer.find('"', from) - from);
}

TEST(UnderPressure, IdleAndTricklingConnectionsDoNotLockOperatorsOut) {
  // This process holds the 5,300 connections itself.
  rlimit own{};
  ::getrlimit(RLIMIT_NOFILE, &own);
  if (own.rlim_max != RLIM_INFINITY && own.rlim_max < 6000)
    GTEST_SKIP() << "needs 6000 open files, the hard limit is " << own.rlim_max;
  own.rlim_cur = std::max<rlim_t>(own.rlim_cur, 6000);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &own), 0);

  Relaydash server(256);
  const long idleKiB = server.residentKiB();
  const std::string credentials = R"({"username":"admin","password":"quilm"})";
  const std::string signIn = "POST /rpc/v1/login/password HTTP/1.1\r\nContent-Length: " +
                             std::to_string(credentials.size()) + "\r\n\r\n" + credentials;
  if (kSanitized) {
    LoopbackClient before(server.port());
    before.send(signIn);
    EXPECT_TRUE(answered(before.readAnswer(), "auth"));
    EXPECT_TRUE(answered(server.get(before, "/health"), "kit"));
  }

  // Whether or not the server keeps up, the attackers are in place within seconds.
  const auto attackDeadline = Clock::now() + 5s;
  std::vector<FileDescriptor> idle;
  for (int i = 0; i < 5000; ++i)
    idle.push_back(connectTo(server.port(), attackDeadline));
  // Each sends one byte of a request line a second and never finishes.
  const std::string trickle = "GET /health HTTP/1.1\r\nX-Trickle: " + std::string(100, 't');
  std::vector<FileDescriptor> tricklers;
  for (int i = 0; i < 300; ++i)
    tricklers.push_back(connectTo(server.port(), attackDeadline));
  std::jthread trickling([&](std::stop_token stop) {
    for (std::size_t at = 0; at < trickle.size(); ++at) {
      for (const FileDescriptor& fd : tricklers)
        ::send(fd.get(), trickle.data() + at, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      for (int i = 0; i < 100; ++i) {
        if (stop.stop_requested()) return;
        std::this_thread::sleep_for(10ms);
      }
    }
  });

  // An operator signs in, then a script reads the health on a connection of its own. How fast
  // is for the benchmark; here they must get in at all, on a machine however busy.
  const auto start = Clock::now();
  const auto left = [&] {
    return std::max(
        1ms, std::chrono::duration_cast<std::chrono::milliseconds>(start + 60s - Clock::now()));
  };
  std::string signedIn, health;
  try {
    LoopbackClient operatorClient(server.port(), left());
    operatorClient.send(signIn);
    signedIn = operatorClient.readAnswer(left());
    LoopbackClient script(server.port(), left());
    health = server.get(script, "/health", left());
  } catch (const std::runtime_error& e) {
    ADD_FAILURE() << e.what();
  }
  const auto elapsed = Clock::now() - start;

  // The server closed nearly all of the idle connections to make room.
  std::vector<pollfd> closed;
  for (const FileDescriptor& fd : idle)
    closed.push_back({fd.get(), POLLIN, 0});
  ::poll(closed.data(), closed.size(), 0);
  EXPECT_GT(std::count_if(closed.begin(), closed.end(), [](const pollfd& p) { return p.revents; }),
            4700);
  EXPECT_TRUE(answered(signedIn, R"({"output":{"auth":")")) << signedIn;
  EXPECT_TRUE(answered(health, R"({"kit":"1.4.2"})")) << health;
  std::printf("signed in and read the health in %lld ms\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
  // At most some 250 connections are open at a time, whatever the attackers hold.
  const long grownKiB = server.residentKiB() - idleKiB;
  if (!kSanitized) {
    EXPECT_LT(grownKiB, 8 * 1024) << "grew by " << grownKiB << " KiB";
  }
}

TEST(UnderPressure, OversizedHeadsAreRefusedAndTheirMemoryGivenBack) {
  Relaydash server;
  LoopbackClient warmUp(server.port());
  EXPECT_TRUE(answered(server.get(warmUp, "/health"), "kit"));
  const long idleKiB = server.residentKiB();

  // 9,990 header lines of 8,000 characters each: 80 MB in one head, on three connections.
  const auto flood = [&](std::string& answer) {
    LoopbackClient client(server.port());
    try {
      client.send("GET /health HTTP/1.1\r\n");
      for (int i = 0; i < 9990; ++i) {
        const std::string name = "X-" + std::to_string(i) + ": ";
        client.send(name + std::string(8000 - name.size(), 'f') + "\r\n");
      }
      client.send("\r\n");
    } catch (const std::runtime_error&) {
      // The server closed the connection while the head was still coming.
    }
    answer = client.readUntilClosed();
  };
  std::string answers[3];
  std::vector<std::thread> floods;
  for (std::string& answer : answers)
    floods.emplace_back(flood, std::ref(answer));
  for (std::thread& t : floods)
    t.join();
  for (const std::string& answer : answers)
    EXPECT_EQ(answer, "HTTP/1.1 400 Bad Request\r\n\r\n");

  // Heads just under the limit are answered, and what they took is given back although their
  // connections stay open.
  std::string large = "GET /health HTTP/1.1\r\n";
  for (int i = 0; i < 125; ++i)
    large += "X-" + std::to_string(i) + ": " + std::string(8000, 'l') + "\r\n";
  std::vector<std::unique_ptr<LoopbackClient>> keptOpen;
  for (int i = 0; i < 8; ++i) {
    keptOpen.push_back(std::make_unique<LoopbackClient>(server.port()));
    keptOpen.back()->send(large + "\r\n");
    EXPECT_TRUE(answered(keptOpen.back()->readAnswer(), "kit")) << i;
  }

  const long grownKiB = server.residentKiB() - idleKiB;
  if (!kSanitized) {
    EXPECT_LT(grownKiB, 4 * 1024) << "grew by " << grownKiB << " KiB";
  }
  for (const auto& client : keptOpen)
    EXPECT_TRUE(answered(server.get(*client, "/health"), "kit"));
}

TEST(UnderPressure, ConnectionsThatSendNothingLeaveDescriptorsForTheWork) {
  ASSERT_TRUE(canHold(600));
  ScriptedSystemctl::instance().reset();
  Relaydash server(256, "packet-forwarder");
  // Twice as many as the table holds: the server makes room for each newcomer.
  const auto attackDeadline = Clock::now() + 5s;
  std::vector<FileDescriptor> silent;
  for (int i = 0; i < 500; ++i)
    silent.push_back(connectTo(server.port(), attackDeadline));

  // A sign-in (which loads SQLite again, the database having been closed), a status and the
  // forwarder's log (each runs a program), and an apply with its kept version, its rewritten
  // file, its restart and its watch: every one of them has the descriptors it needs.
  const std::string signedIn = server.call("login/password", kCredentials);
  ASSERT_TRUE(answered(signedIn, R"({"output":{"auth":")")) << signedIn;
  const std::string auth = R"("auth":")" + tokenOf(signedIn) + R"(")";
  const std::string status = server.call("gateway/status", "{" + auth + "}");
  EXPECT_TRUE(answered(status, R"("activeState":"active")")) << status;
  const std::string logs =
      server.call("gateway/logs", "{" + auth + R"(,"input":{"unit":"forwarder"}})");
  EXPECT_TRUE(answered(logs, R"({"output":{"entries":)")) << logs;
  const std::string applied = server.call(
      "forwarder-config/apply",
      "{" + auth +
          R"(,"input":{"patch":{"gateway_conf":{"keepalive_interval":11}},"settleSeconds":1,)"
          R"("watch":"process"}})",
      30s);
  EXPECT_TRUE(answered(applied, R"("applied":true)")) << applied;
}

TEST(UnderPressure, StalledBodiesMakeRoomAndAreClosedInTheEnd) {
  ASSERT_TRUE(canHold(400));
  // Bodies stall for at most a few seconds here, not a minute.
  ::setenv("RELAYDASH_BODY_STALL_MS", "3000", 1);
  Relaydash server(256);
  ::unsetenv("RELAYDASH_BODY_STALL_MS");
  // More connections than the table holds, each sending a head and part of its body.
  const auto attackDeadline = Clock::now() + 5s;
  std::vector<FileDescriptor> stalled;
  const std::string start =
      "POST /rpc/v1/login/password HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"user";
  for (int i = 0; i < 300; ++i) {
    stalled.push_back(connectTo(server.port(), attackDeadline));
    ::send(stalled.back().get(), start.data(), start.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  // The oldest stalled bodies make room for an operator and a script.
  LoopbackClient script(server.port(), 10s);
  EXPECT_TRUE(answered(server.get(script, "/health"), "kit"));
  EXPECT_TRUE(answered(server.call("login/password", kCredentials), "auth"));

  // Without any pressure, a body that stalls past the limit is closed.
  LoopbackClient late(server.port(), 10s);
  late.send(start);
  EXPECT_EQ(late.readUntilClosed(30s), "");
  LoopbackClient after(server.port(), 10s);
  EXPECT_TRUE(answered(server.get(after, "/health"), "kit"));
}

TEST(UnderPressure, HeadsOfManyNamesHoldNoMoreThanTheirBudget) {
  Relaydash server;
  LoopbackClient warmUp(server.port());
  EXPECT_TRUE(answered(server.get(warmUp, "/health"), "kit"));
  const long idleKiB = server.residentKiB();

  // Heads of 9,990 names of a few characters: 50 KB each on the wire, 2 MB each as parsed. Half
  // of the connections leave their head unfinished, half complete it and never send the body.
  std::string names = "POST /health HTTP/1.1\r\n";
  for (int i = 0; i < 9990; ++i)
    names.append("a").append(std::to_string(i)).append(":\r\n");
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  // 64 of them would hold 130 MB if they were not counted as they are parsed.
  for (int i = 0; i < 64; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(server.port()));
    try {
      clients.back()->send(i % 2 ? names : names + "Content-Length: 100\r\n\r\n");
    } catch (const std::runtime_error&) {
      // Refused while it was still sending.
    }
  }
  // Answered once the server has read the heads sent before (unoptimised builds parse slowly).
  LoopbackClient after(server.port());
  EXPECT_TRUE(answered(server.get(after, "/health", 60s), "kit"));
  // 32 MiB for the requests in hand, and room for the allocator's own waste.
  const long grownKiB = server.peakResidentKiB() - idleKiB;
  if (!kSanitized) {
    EXPECT_LT(grownKiB, 48 * 1024) << "grew by " << grownKiB << " KiB";
  }
}

// What the kernel holds of answers that this server's sockets on the port have not had taken
// by their peers, in bytes, from /proc/net/tcp: the most on one connection, and all together
// (closed connections the kernel still keeps included); how many connections are open and how
// many of them hold some, and how many connections wait to be accepted.
struct SendQueues {
  long largest = 0;
  long total = 0;
  int open = 0;
  int holding = 0;
  long backlog = 0;
};

SendQueues sendQueues(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the titles
  SendQueues queues;
  char localPort[5] = {};
  std::snprintf(localPort, sizeof localPort, "%04X", port);
  while (std::getline(table, line)) {
    // "  12: 0100007F:1F90 0100007F:D2C4 01 0001F400:00000000 …"
    std::istringstream fields(line);
    std::string slot, local, remote, state, pair;
    fields >> slot >> local >> remote >> state >> pair;
    if (local.substr(local.find(':') + 1) != localPort) continue;
    const long queued = std::stol(pair.substr(0, pair.find(':')), nullptr, 16);
    if (state == "0A") {
      queues.backlog = std::stol(pair.substr(pair.find(':') + 1), nullptr, 16);
      continue;
    }
    // Closed connections count too: the kernel may still hold their bytes for the peer.
    queues.largest = std::max(queues.largest, queued);
    queues.total += queued;
    if (state != "01") continue;
    ++queues.open;
    queues.holding += queued > 0;
  }
  return queues;
}

TEST(UnderPressure, APeerThatDoesNotReadItsAnswersIsNoLongerRead) {
  Relaydash server;
  const std::string request = "GET /ui/style.css HTTP/1.1\r\n\r\n";
  std::string burst;
  for (int i = 0; i < 20'000; ++i)
    burst += request;
  std::vector<FileDescriptor> pipelining;
  for (int c = 0; c < 8; ++c) {
    pipelining.push_back(connectTo(server.port(), Clock::now() + 5s));
    const int fd = pipelining.back().get();
    // Far more answers than any buffer holds are asked for, as far as the buffers take the
    // requests.
    std::size_t sent = 0;
    for (int round = 0; round < 200 && sent < burst.size(); ++round) {
      const ssize_t n = ::send(fd, burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
      pollfd writable{fd, POLLOUT, 0};
      if (::poll(&writable, 1, 200) <= 0) break;
    }
  }
  // Each connection stopped being read with its answers' buffer full: it holds about what the
  // send buffer does (the kernel counts twice the size set), not the megabytes the kernel would
  // grow it to.
  EXPECT_LE(sendQueues(server.port()).largest, 256 * 1024);
  LoopbackClient other(server.port());
  EXPECT_TRUE(answered(server.get(other, "/health"), "kit"));
}

// A connection that asks for many answers at once, as far as the buffers take the requests,
// and reads none of them.
FileDescriptor pipelineUnread(int port, const std::string& burst, Clock::time_point deadline) {
  FileDescriptor fd = connectTo(port, deadline);
  ::send(fd.get(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return fd;
}

// The kernel's memory for TCP on the whole machine, both ends of every connection, in KiB.
long tcpMemoryKiB() {
  std::ifstream table("/proc/net/sockstat");
  for (std::string word; table >> word;) {
    if (word != "TCP:") continue;
    for (std::string name, value; table >> name >> value;) {
      if (name == "mem") return std::stol(value) * (::sysconf(_SC_PAGESIZE) / 1024);
    }
  }
  return -1;
}

TEST(UnderPressure, AnswersNobodyTakesMakeRoomAndAreClosedInTheEnd) {
  ASSERT_TRUE(canHold(1100));
  // Answers stall for at most a few seconds here, not a minute.
  ::setenv("RELAYDASH_SEND_STALL_MS", "3000", 1);
  Relaydash server(256);
  ::unsetenv("RELAYDASH_SEND_STALL_MS");
  std::string burst;
  for (int i = 0; i < 200; ++i)
    burst += "GET /ui/style.css HTTP/1.1\r\n\r\n";
  // Four times as many connections as the table holds, each with answers waiting for it.
  const auto attackDeadline = Clock::now() + 5s;
  std::vector<FileDescriptor> pipelining;
  for (int i = 0; i < 1000; ++i)
    pipelining.push_back(pipelineUnread(server.port(), burst, attackDeadline));
  // The attack settles: no connection waits to be accepted, and every one the server holds
  // has answers waiting for its peer, none of which can be closed as idle or unfinished.
  SendQueues during;
  for (int look = 0; look < 3000; ++look) {
    during = sendQueues(server.port());
    if (during.backlog == 0 && during.open > 100 && during.holding == during.open) break;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(during.holding, during.open);
  const long tcpKiB = tcpMemoryKiB();

  // The answers stalled longest make room for an operator and a script.
  const auto start = Clock::now();
  LoopbackClient script(server.port(), 60s);
  EXPECT_TRUE(answered(server.get(script, "/health", 60s), "kit"));
  EXPECT_TRUE(answered(server.call("login/password", kCredentials, 60s), "auth"));
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  std::vector<pollfd> ended;
  for (const FileDescriptor& fd : pipelining)
    ended.push_back({fd.get(), 0, 0});
  ::poll(ended.data(), ended.size(), 0);
  std::printf(
      "during the attack: %d connections open, %ld KiB of answers held for peers (at most %ld "
      "KiB on one), %ld KiB of TCP memory on the machine; health and sign-in answered in %lld "
      "ms; %ld of the connections reset by then\n",
      during.open, during.total / 1024, during.largest / 1024, tcpKiB,
      static_cast<long long>(elapsed.count()),
      static_cast<long>(std::count_if(ended.begin(), ended.end(),
                                      [](const pollfd& p) { return p.revents != 0; })));

  // Without any pressure, a connection whose peer takes nothing past the limit is closed, and
  // what the kernel held for it is let go.
  pipelining.clear();
  FileDescriptor late = pipelineUnread(server.port(), burst, Clock::now() + 10s);
  pollfd closed{late.get(), 0, 0};
  EXPECT_EQ(::poll(&closed, 1, 30'000), 1);
  EXPECT_TRUE(closed.revents & (POLLERR | POLLHUP));
  EXPECT_EQ(sendQueues(server.port()).total, 0);
  LoopbackClient after(server.port(), 10s);
  EXPECT_TRUE(answered(server.get(after, "/health"), "kit"));
}

}  // namespace
}  // namespace relaydash::testing
