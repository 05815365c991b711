// The whole program, spawned as a process: start-up lines and statuses, the health check, the
// redirect, the error hook's three cases, and full operator sessions over HTTP.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/child_process.hpp"
#include "support/free_port.hpp"
#include "support/loopback_client.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"
#include "version.hpp"

namespace relaydash::testing {
namespace {

using namespace std::chrono_literals;

const std::string kBinary = RELAYDASH_BINARY;
const std::string kSample =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";

bool accepts(int port) {
  try {
    LoopbackClient probe(port);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

struct Answer {
  int status = 0;
  std::string head;
  std::string body;
  JsonNodePtr json() const { return parseJson(body); }
};

Answer split(const std::string& raw) {
  Answer a;
  const auto end = raw.find("\r\n\r\n");
  a.head = raw.substr(0, end);
  a.body = end == std::string::npos ? "" : raw.substr(end + 4);
  if (raw.size() > 12) a.status = std::stoi(raw.substr(9, 3));
  return a;
}

// One relaydash process on its own port, database, configuration file and fake systemctl.
class Gateway {
 public:
  TempDir dir;
  // First on this process's PATH, so every server started here inherits it.
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  const int port = freePort();
  std::optional<ChildProcess> process;

  Gateway() {
    systemctl.reset();
    std::filesystem::copy_file(kSample, config());
  }

  std::string config() const { return dir / "global_conf.json"; }

  // The lines the server prints between the banner and "Listening" are given.
  void start(const std::vector<std::string>& notices = {}) {
    process.emplace(kBinary,
                    std::vector<std::string>{"--listen", "127.0.0.1", "--port",
                                             std::to_string(port), "--dataPath", dir / "db.sqlite3",
                                             "--forwarderConfigPath", config()},
                    dir.path().string());
    ASSERT_EQ(process->readLine(), "starting relaydash v" + std::string(kVersion));
    for (const std::string& notice : notices)
      ASSERT_EQ(process->readLine(), notice);
    ASSERT_EQ(process->readLine(), "Listening 127.0.0.1:" + std::to_string(port));
    // Once listening: the fingerprint of the certificate HTTPS shows on the same port.
    ASSERT_TRUE(
        process->readLine().value_or("").starts_with("HTTPS: certificate SHA-256 fingerprint "));
    for (int i = 0; i < 200 && !accepts(port); ++i)
      std::this_thread::sleep_for(10ms);
  }

  void restart() {
    process.reset();
    start();
  }

  Answer request(const std::string& raw) {
    LoopbackClient client(port);
    client.send(raw);
    return split(client.readAnswer());
  }

  Answer get(const std::string& path) { return request("GET " + path + " HTTP/1.1\r\n\r\n"); }

  Answer post(const std::string& path, const std::string& body) {
    return request("POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
  }

  std::string login(const std::string& password = "quilm") {
    const Answer a =
        post("/rpc/v1/login/password", R"({"username":"admin","password":")" + password + "\"}");
    EXPECT_EQ(a.status, 200) << a.body;
    return a.json()->at("output")->at("auth")->getString();
  }
};

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(StartUp, DefaultsPrintTheBannerAndListenOnPort9992) {
  // Whatever already listens there (a demo, say) would answer in our place.
  if (accepts(9992)) GTEST_SKIP() << "another program listens on 127.0.0.1:9992";
  TempDir dir;
  ChildProcess process(kBinary, {}, dir.path().string());
  EXPECT_EQ(process.readLine(), "starting relaydash v1.1.1");
  EXPECT_EQ(process.readLine(), "Listening 127.0.0.1:9992");
  for (int i = 0; i < 200 && !accepts(9992); ++i)
    std::this_thread::sleep_for(10ms);
  LoopbackClient client(9992);
  client.send("GET /health HTTP/1.1\r\n\r\n");
  EXPECT_EQ(split(client.readAnswer()).body, R"({"kit":"1.4.2"})");
  EXPECT_TRUE(std::filesystem::exists(dir / "relaydash.sqlite3"));
  // Still serving: had binding failed, the process would have ended and the answer come from
  // someone else.
  EXPECT_EQ(process.wait(100ms), std::nullopt);
}

TEST(StartUp, AnEmptyListenAddressMeansEveryInterface) {
  TempDir dir;
  const int port = freePort();
  ChildProcess process(kBinary, {"--listen", "", "--port", std::to_string(port)},
                       dir.path().string());
  EXPECT_EQ(process.readLine(), "starting relaydash v1.1.1");
  EXPECT_EQ(process.readLine(), "Listening :" + std::to_string(port));
}

TEST(StartUp, AnAddressInUseEndsTheSecondProcessWithStatus1) {
  Gateway first;
  first.start();
  ChildProcess second(kBinary, {"--listen", "127.0.0.1", "--port", std::to_string(first.port)},
                      first.dir.path().string());
  EXPECT_EQ(second.wait(), 1);
  EXPECT_EQ(second.standardOutput(),
            "starting relaydash v1.1.1\nListening 127.0.0.1:" + std::to_string(first.port) +
                "\nAddress already in use\nOSError code: 98\n");
}

TEST(StartUp, ADatabaseInAMissingDirectoryEndsTheProcess) {
  TempDir dir;
  ChildProcess process(kBinary, {"--dataPath", dir / "missing/db.sqlite3"}, dir.path().string());
  EXPECT_EQ(process.wait(), 1);
  EXPECT_EQ(process.standardOutput(), "starting relaydash v1.1.1\nunable to open database file\n");
}

TEST(StartUp, HelpAndParseErrorsNeverStartTheServer) {
  ChildProcess help(kBinary, {"--help"});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_EQ(help.standardOutput().rfind("Usage:\n  relaydash [optional-params] \n", 0), 0u);
  ChildProcess bad(kBinary, {"--port", "x"});
  EXPECT_EQ(bad.wait(), 1);
  EXPECT_EQ(bad.standardError().rfind("Bad value: \"x\" for option \"port\"; expecting int\n", 0),
            0u);
}

// The packaged service names a file of the administrator's initial password, made per gateway.
class InitialPassword : public ::testing::Test {
 protected:
  Gateway gateway;
  const std::string file = gateway.dir / "etc/initial-password";

  std::string notice() const {
    return "Sign in as admin with the password in " + file +
           "; it is removed once the password is changed";
  }

  // Started with RELAYDASH_INITIAL_PASSWORD_FILE naming the file.
  void start(const std::vector<std::string>& notices) {
    ::setenv("RELAYDASH_INITIAL_PASSWORD_FILE", file.c_str(), 1);
    gateway.start(notices);
    ::unsetenv("RELAYDASH_INITIAL_PASSWORD_FILE");
  }

  int signIn(const std::string& password) {
    return gateway
        .post("/rpc/login/password", R"({"username":"admin","password":")" + password + "\"}")
        .status;
  }

  bool defaultPassword(const std::string& token) {
    const Answer a = gateway.post("/rpc/gateway/status", R"({"auth":")" + token + "\"}");
    EXPECT_EQ(a.status, 200) << a.body;
    return a.json()->at("output")->at("relaydash")->at("defaultPassword")->getBool();
  }

  static unsigned modeOf(const std::string& path) {
    struct stat s {};
    return ::stat(path.c_str(), &s) == 0 ? s.st_mode & 07777 : 0;
  }
};

TEST_F(InitialPassword, TheFilesPasswordIsTheOnlyOneUntilItIsChangedThenTheFileGoes) {
  std::filesystem::create_directory(gateway.dir / "etc");
  std::ofstream(file) << "kq7m-first-password\n";
  start({notice()});
  EXPECT_EQ(signIn("quilm"), 403);
  const std::string token = gateway.login("kq7m-first-password");
  // The web application still asks for a password of the operator's own.
  EXPECT_TRUE(defaultPassword(token));
  EXPECT_TRUE(std::filesystem::exists(file));

  const Answer changed = gateway.post(
      "/rpc/password/update",
      R"({"auth":")" + token +
          R"(","input":{"currentPassword":"kq7m-first-password","newPassword":"own-choice"}})");
  EXPECT_EQ(changed.status, 200) << changed.body;
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(defaultPassword(token));

  // Nothing more to say at the next start, which changes nothing.
  start({});
  EXPECT_EQ(signIn("kq7m-first-password"), 403);
  EXPECT_EQ(signIn("own-choice"), 200);
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(InitialPassword, ANewDatabaseWithoutTheFileMakesOneForItsOwnerAlone) {
  start({notice()});
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(modeOf(file), 0600u);
  const std::string text = fileText(file);
  ASSERT_EQ(text.size(), 21u);
  EXPECT_EQ(text.find_first_not_of("abcdefghijkmnpqrstuvwxyz23456789"), 20u);
  EXPECT_EQ(signIn("quilm"), 403);
  const std::string password = text.substr(0, 20);
  EXPECT_TRUE(defaultPassword(gateway.login(password)));
  // The database is its owner's alone too.
  EXPECT_EQ(modeOf(gateway.dir / "db.sqlite3"), 0600u);

  // A restart reads the same file again and says so again.
  start({notice()});
  EXPECT_EQ(fileText(file), text);
  EXPECT_EQ(signIn(password), 200);
}

TEST_F(InitialPassword, WithoutTheVariableTheFactoryPasswordStaysAndNoFileIsRead) {
  std::filesystem::create_directory(gateway.dir / "etc");
  std::ofstream(file) << "unused-password\n";
  gateway.start();
  EXPECT_EQ(signIn("unused-password"), 403);
  EXPECT_TRUE(defaultPassword(gateway.login("quilm")));
}

class Running : public ::testing::Test {
 protected:
  Gateway gateway;
  void SetUp() override { gateway.start(); }
};

TEST_F(Running, HealthAnswersEveryMethodAndSubpath) {
  const std::string expected =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 15";
  for (const std::string request :
       {"GET /health HTTP/1.1\r\n\r\n", "POST /health HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
        "GET /health/anything?x=1 HTTP/1.1\r\n\r\n"}) {
    const Answer a = gateway.request(request);
    EXPECT_EQ(a.head, expected) << request;
    EXPECT_EQ(a.body, R"({"kit":"1.4.2"})") << request;
  }
}

// OpenSSL comes into the server with its first TLS connection: a gateway nobody browses over
// HTTPS never carries its memory, though the certificate was chosen at start.
TEST_F(Running, OpenSslIsLoadedByTheFirstTlsConnection) {
  const auto opened = [this] {
    std::ifstream maps("/proc/" + std::to_string(gateway.process->pid()) + "/maps");
    const std::string all{std::istreambuf_iterator<char>(maps), {}};
    return all.find("libssl.so") != std::string::npos;
  };
  EXPECT_FALSE(opened());
  EXPECT_EQ(gateway.get("/health").status, 200);
  EXPECT_FALSE(opened());
  LoopbackClient hello(gateway.port);
  hello.send(std::string("\x16\x03\x01\x00\x05hello", 10));
  EXPECT_TRUE(hello.closedByPeer());
  EXPECT_TRUE(opened());
  EXPECT_EQ(gateway.get("/health").status, 200);
}

TEST_F(Running, EveryOtherPathIsRedirectedToTheApplication) {
  for (const std::string path : {"/", "/index.html", "/UI", "/rpc2", "/healthz"}) {
    const Answer a = gateway.get(path);
    EXPECT_EQ(a.head, "HTTP/1.1 302 Found\r\nLocation: /ui\r\nContent-Length: 0") << path;
  }
}

TEST_F(Running, TheErrorHookAnswersEachKindOfError) {
  // An HttpException answers with its own status and code.
  Answer a = gateway.post("/rpc/sshd/start",
                          R"({"auth":"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"})");
  EXPECT_EQ(a.status, 403);
  EXPECT_EQ(a.body, R"({"error":{"code":23010,"message":"Invalid auth token"}})");
  // An unknown account is a password mismatch, printed nowhere.
  a = gateway.post("/rpc/v1/login/password", R"({"username":"bob","password":"x"})");
  EXPECT_EQ(a.status, 400);
  EXPECT_EQ(a.body, R"({"error":{"code":24004,"message":"Password mismatch"}})");
  // Anything else is printed and answered 500.
  const std::string token = gateway.login();
  a = gateway.post("/rpc/password/update", R"({"auth":")" + token + "\"}");
  EXPECT_EQ(a.status, 500);
  EXPECT_EQ(a.body, R"({"error":{"code":10000,"message":"Unspecified error"}})");
  EXPECT_EQ(gateway.process->readLine(), "key not found: input");
}

TEST_F(Running, AnOperatorSession) {
  const Answer wrong =
      gateway.post("/rpc/v1/login/password", R"({"username":"admin","password":"nope"})");
  EXPECT_EQ(wrong.status, 403);
  EXPECT_EQ(wrong.body, R"({"error":{"code":23009,"message":"Invalid password"}})");
  const std::string token = gateway.login();
  const std::string auth = R"({"auth":")" + token + "\"";

  // The configuration, in the file's member order, through both mounts.
  const Answer config = gateway.post("/rpc/forwarder-config/get", auth + "}");
  ASSERT_EQ(config.status, 200);
  const JsonNodePtr document = config.json()->at("output");
  EXPECT_EQ(toCompact(*document), toCompact(*parseJson(fileText(gateway.config()))));
  EXPECT_EQ(gateway.post("/rpc/v1/forwarder-config/get", auth + "}").body, config.body);

  // A patch rewrites the file and restarts the forwarder.
  const Answer patched = gateway.post(
      "/rpc/forwarder-config/patch",
      auth + R"(,"input":{"gateway_conf":{"server_address":"eu1.example.net"}},"pin":3})");
  EXPECT_EQ(patched.status, 200);
  EXPECT_EQ(patched.body, R"({"output":{},"pin":3})");
  const JsonNodePtr onDisk = parseJson(fileText(gateway.config()));
  EXPECT_EQ(onDisk->at("gateway_conf")->at("server_address")->getString(), "eu1.example.net");
  EXPECT_EQ(gateway.systemctl.calls(),
            std::vector<std::string>{"systemctl [restart] [packet-forwarder]"});

  // SSH on and off.
  EXPECT_EQ(gateway.post("/rpc/sshd/start", auth + R"(,"input":{}})").body, R"({"output":{}})");
  EXPECT_EQ(gateway.post("/rpc/sshd/stop", auth + R"(,"input":{}})").body, R"({"output":{}})");
  EXPECT_EQ(gateway.systemctl.calls(),
            (std::vector<std::string>{"systemctl [restart] [packet-forwarder]",
                                      "systemctl [start] [ssh]", "systemctl [enable] [ssh]",
                                      "systemctl [stop] [ssh]", "systemctl [disable] [ssh]"}));

  // A new password; the old one is refused afterwards.
  EXPECT_EQ(gateway
                .post("/rpc/password/update",
                      auth + R"(,"input":{"currentPassword":"quilm","newPassword":"s3cret"}})")
                .body,
            R"({"output":{}})");
  EXPECT_EQ(
      gateway.post("/rpc/v1/login/password", R"({"username":"admin","password":"quilm"})").status,
      403);

  // A restart invalidates every token and keeps the new password.
  gateway.restart();
  EXPECT_EQ(gateway.post("/rpc/forwarder-config/get", auth + "}").body,
            R"({"error":{"code":23010,"message":"Invalid auth token"}})");
  EXPECT_FALSE(gateway.login("s3cret").empty());
}

int runCurl(const std::string& arguments, std::string& output) {
  const std::string command = "curl --silent --show-error --max-time 10 " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  char chunk[4096];
  output.clear();
  while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
    output.append(chunk, n);
  return WEXITSTATUS(::pclose(pipe));
}

TEST_F(Running, CurlAsARealClient) {
  const std::string base = "http://127.0.0.1:" + std::to_string(gateway.port);
  std::string out;
  // Several requests over one kept-alive connection.
  ASSERT_EQ(runCurl("--verbose " + base + "/health " + base + "/health/x " + base + "/ui", out), 0);
  EXPECT_NE(out.find("Re-using existing connection"), std::string::npos) << out;
  std::size_t healthAnswers = 0;
  for (auto at = out.find(R"({"kit":"1.4.2"})"); at != std::string::npos;
       at = out.find(R"({"kit":"1.4.2"})", at + 1)) {
    ++healthAnswers;
  }
  EXPECT_EQ(healthAnswers, 2u) << out;

  // HEAD: the length of the GET answer, no body, and the connection stays usable.
  ASSERT_EQ(runCurl("--head " + base + "/health", out), 0);
  EXPECT_NE(out.find("Content-Length: 15"), std::string::npos) << out;
  EXPECT_EQ(out.find("kit"), std::string::npos) << out;

  // A body over the limit is refused before any handler runs.
  ASSERT_EQ(runCurl("--include --data-binary @- " + base +
                        "/rpc/login/password < /dev/null "
                        "--header 'Content-Length: 4097'",
                    out),
            0);
  EXPECT_NE(out.find("HTTP/1.1 413 Request Entity Too Large"), std::string::npos) << out;
}

}  // namespace
}  // namespace relaydash::testing
