// relaydash killed with SIGKILL at each step of an apply leaves the forwarder's configuration
// old or new, complete, and the old one in the history; a folder that cannot be written leaves
// the file untouched, and the answer says why. Runs the real program.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "gateway/atomic_file.hpp"
#include "gateway/config_history.hpp"
#include "json/parser.hpp"
#include "support/child_process.hpp"
#include "support/free_port.hpp"
#include "support/loopback_client.hpp"
#include "support/read_file.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::LoopbackClient;
using testing::ScriptedSystemctl;
using namespace std::chrono_literals;

const std::string kBinary = RELAYDASH_BINARY;
const std::string kSample =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";
const std::string kMarker = "DEADBEEFDEADBEEF";

template <typename F>
bool eventually(F condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class Killed : public ::testing::Test {
 protected:
  TempDir dir;
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  const std::string config = dir.file("global_conf.json");
  const std::string original = readFile(kSample);
  const int port = freePort();
  std::optional<ChildProcess> server;
  std::string token;

  void SetUp() override {
    systemctl.reset();
    std::ofstream(config, std::ios::binary) << original;
    systemctl.crashWhenConfigHolds("packet-forwarder", config, kMarker);
  }

  // The program, started as on a gateway but run by `launcher` when there is one.
  void start(std::vector<std::string> launcher = {}) {
    std::vector<std::string> args{"--port",
                                  std::to_string(port),
                                  "--dataPath",
                                  dir.file("db.sqlite3"),
                                  "--forwarderConfigPath",
                                  config};
    std::string program = kBinary;
    if (!launcher.empty()) {
      program = launcher.front();
      launcher.erase(launcher.begin());
      launcher.push_back(kBinary);
      args.insert(args.begin(), launcher.begin(), launcher.end());
    }
    server.emplace(program, args, dir.path().string());
    ASSERT_TRUE(eventually([&] {
      try {
        LoopbackClient probe(port);
        return true;
      } catch (const std::exception&) {
        return false;
      }
    })) << server->standardError();
    const std::string login =
        post("/rpc/v1/login/password", R"({"username":"admin","password":"quilm"})");
    token =
        parseJson(login.substr(login.find("\r\n\r\n") + 4))->at("output")->at("auth")->getString();
  }

  std::string post(const std::string& path, const std::string& body) {
    LoopbackClient client(port);
    client.send("POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body);
    return client.readAnswer();
  }

  // An apply whose answer is never read: the server is killed before it could give one.
  std::unique_ptr<LoopbackClient> applyInBackground(const std::string& patch, int settle) {
    auto client = std::make_unique<LoopbackClient>(port);
    const std::string body = R"({"auth":")" + token + R"(","input":{"patch":)" + patch +
                             R"(,"settleSeconds":)" + std::to_string(settle) + "}}";
    client->send("POST /rpc/forwarder-config/apply HTTP/1.1\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
    return client;
  }

  int restarts() const {
    int n = 0;
    for (const std::string& call : systemctl.calls("systemctl"))
      n += call.rfind("systemctl [restart]", 0) == 0 ? 1 : 0;
    return n;
  }

  std::string pending() const { return dir.file("history/change-under-way.json"); }

  std::string step() {
    const std::string answer =
        post("/rpc/forwarder-config/progress", R"({"auth":")" + token + "\"}");
    const JsonNodePtr step =
        parseJson(answer.substr(answer.find("\r\n\r\n") + 4))->at("output")->at("step");
    return step->isNull() ? "" : step->getString();
  }

  // The files the history holds, oldest first.
  std::vector<std::string> kept() const {
    const ConfigHistory history(dir.file("history"));
    std::vector<std::string> texts;
    const std::vector<ConfigVersion> versions = history.list();
    for (auto v = versions.rbegin(); v != versions.rend(); ++v)
      texts.push_back(history.read(v->number)->bytes);
    return texts;
  }

  // The temporary files of writes beside the configuration and in the history.
  std::vector<std::string> temporaryFiles() const {
    std::vector<std::string> names;
    for (const fs::path& folder : {dir.path(), dir.path() / "history"}) {
      if (!fs::exists(folder)) continue;
      for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (!temporaryFileTarget(name).empty()) names.push_back(name);
      }
    }
    return names;
  }

  // Kills the server, and the fake tools it left running, so that none lives on into the next
  // step (a restart that finishes after the kill would look like the forwarder crashing). The
  // server is stopped first and its descendants gathered and stopped until no new one appears,
  // then all of them are killed: this does not rely on being their subreaper, which qemu-user
  // refuses.
  void kill() {
    ::kill(server->pid(), SIGSTOP);
    std::vector<pid_t> tree{server->pid()};
    for (std::size_t known = 0; known != tree.size();) {
      known = tree.size();
      for (const auto& [pid, parent] : processesWithParents()) {
        if (std::find(tree.begin(), tree.end(), parent) == tree.end()) continue;
        if (std::find(tree.begin(), tree.end(), pid) != tree.end()) continue;
        ::kill(pid, SIGSTOP);
        tree.push_back(pid);
      }
    }
    for (const pid_t pid : tree)
      ::kill(pid, SIGKILL);
    server->kill(SIGKILL);
    // Those the subreaper took in are this process's children now: reaped here.
    for (const pid_t pid : tree)
      if (pid != server->pid()) ::waitpid(pid, nullptr, 0);
  }

  static std::vector<std::pair<pid_t, pid_t>> processesWithParents() {
    std::vector<std::pair<pid_t, pid_t>> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string text;
      if (!std::getline(stat, text) || text.rfind(')') == std::string::npos) continue;
      char state = 0;
      long parent = 0;
      std::istringstream(text.substr(text.rfind(')') + 2)) >> state >> parent;
      found.emplace_back(std::stoi(name), static_cast<pid_t>(parent));
    }
    return found;
  }

  // Where the kernel allows it, the fake tools the server leaves are this process's children.
  static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
};

std::string withServer(std::string text, const std::string& address) {
  return text.replace(text.find("\"localhost\""), 11, "\"" + address + "\"");
}

TEST_F(Killed, WhileTheForwarderRestartsOrIsWatched) {
  start();
  systemctl.delay("restart", 3);
  auto apply = applyInBackground(R"({"gateway_conf":{"server_address":"eu1.example.net"}})", 5);
  ASSERT_TRUE(eventually([&] { return restarts() == 1; }));
  kill();
  EXPECT_EQ(readFile(config), withServer(original, "eu1.example.net"));
  EXPECT_EQ(kept(), std::vector<std::string>{original});

  systemctl.reset();
  systemctl.crashWhenConfigHolds("packet-forwarder", config, kMarker);
  start();
  // The change the kill interrupted is watched to its end first, and kept: the forwarder runs.
  ASSERT_TRUE(eventually([&] { return !fs::exists(pending()); }, 30s));
  EXPECT_EQ(readFile(config), withServer(original, "eu1.example.net"))
      << post("/rpc/gateway/status", R"({"auth":")" + token + "\"}");
  apply = applyInBackground(R"({"gateway_conf":{"server_address":"eu2.example.net"}})", 5);
  ASSERT_TRUE(eventually([&] { return step() == "watching"; }));
  kill();
  EXPECT_EQ(readFile(config), withServer(original, "eu2.example.net"));
  EXPECT_EQ(kept(), (std::vector<std::string>{original, withServer(original, "eu1.example.net")}));
}

// A change that breaks the forwarder, killed while it is watched: the next start finds it, finishes
// the watch, rolls it back and says so on the status and in the audit trail.
TEST_F(Killed, WhileWatchingAChangeThatBreaksTheForwarder) {
  start();
  // Each look at the forwarder takes a while: the kill comes while the change is watched.
  systemctl.delay("show", 2);
  auto apply = applyInBackground(R"({"gateway_conf":{"gateway_ID":")" + kMarker + "\"}}", 60);
  ASSERT_TRUE(eventually([&] { return step() == "watching"; }));
  kill();
  systemctl.delay("show", 0);
  EXPECT_NE(readFile(config).find(kMarker), std::string::npos);
  ASSERT_TRUE(fs::exists(pending()));

  start();
  JsonNodePtr found;
  ASSERT_TRUE(eventually(
      [&] {
        const std::string status = post("/rpc/gateway/status", R"({"auth":")" + token + "\"}");
        found = parseJson(status.substr(status.find("\r\n\r\n") + 4))
                    ->at("output")
                    ->at("interruptedChange");
        return !found->isNull() && found->at("state")->getString() != "watching";
      },
      30s));
  EXPECT_EQ(found->at("state")->getString(), "rolled-back") << found->at("message")->getString();
  EXPECT_EQ(found->at("user")->getString(), "admin");
  EXPECT_FALSE(fs::exists(pending()));
  EXPECT_EQ(readFile(config), original);
  EXPECT_EQ(restarts(), 2);  // the change's, and the rollback's after the second start
  const std::string audit = post("/rpc/audit/list", R"({"auth":")" + token + "\"}");
  EXPECT_NE(audit.find("\"action\":\"config-recover\""), std::string::npos) << audit;
  // The apply's own row was written before the file: the kill cut it short.
  EXPECT_NE(audit.find("\"action\":\"config-apply\",\"outcome\":\"interrupted\""),
            std::string::npos)
      << audit;
}

TEST_F(Killed, WhileRollingBack) {
  start();
  systemctl.delay("restart", 1.5);
  auto apply = applyInBackground(R"({"gateway_conf":{"gateway_ID":")" + kMarker + "\"}}", 5);
  // The second restart is the rollback's: the old file is back by then.
  ASSERT_TRUE(eventually([&] { return restarts() == 2; }, 20s));
  kill();
  EXPECT_EQ(readFile(config), original);
  const std::vector<std::string> texts = kept();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], original);
  EXPECT_NE(texts[1].find(kMarker), std::string::npos);
}

// The steps between reading the file and the restart take milliseconds: killed at moments spread
// over them, the file is always one of the two, whole, and when it is the new one the history
// holds the old.
TEST_F(Killed, AtAnyMomentOfSavingAndWriting) {
  std::mt19937 random(20261209);
  std::string current = original;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    start();
    // Whatever the kill of the round before left half written is gone once the server listens.
    EXPECT_EQ(temporaryFiles(), std::vector<std::string>{});
    const std::string address = "eu" + std::to_string(round) + ".example.net";
    const std::string next = [&] {
      std::string text = current;
      const std::size_t at = text.find("\"server_address\": \"") + 19;
      return text.replace(at, text.find('"', at) - at, address);
    }();
    auto apply = applyInBackground(R"({"gateway_conf":{"server_address":")" + address + "\"}}", 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
    kill();
    const std::string now = readFile(config);
    ASSERT_TRUE(now == current || now == next) << now;
    if (now == next) {
      const std::vector<std::string> texts = kept();
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.back(), current);
    }
    current = now;
  }
}

// Start-up removes what a kill during a write leaves, of this build and of earlier ones, and
// nothing else: not the operator's files that look alike beside the configuration.
TEST_F(Killed, ARestartRemovesTheTemporaryFilesOfInterruptedWrites) {
  start();
  server->kill(SIGKILL);
  fs::create_directory(dir.file("history"));
  const std::vector<std::string> leftovers{".global_conf.json.relaydash-Ab3dE9",
                                           "history/.version-000001.relaydash-Xy12Z9",
                                           "history/.version-000002.Ab3dE9"};
  const std::vector<std::string> operators{".global_conf.json.backup", "history/notes.txt"};
  for (const std::string& name : leftovers)
    std::ofstream(dir.file(name)) << "{\"half\": ";
  for (const std::string& name : operators)
    std::ofstream(dir.file(name)) << "mine";
  start();
  for (const std::string& name : leftovers)
    EXPECT_FALSE(fs::exists(dir.file(name))) << name;
  for (const std::string& name : operators)
    EXPECT_EQ(readFile(dir.file(name)), "mine") << name;
  EXPECT_EQ(readFile(config), original);
}

// A read-only bind mount of the folder, in a mount namespace of the server's own: even root
// cannot write there.
TEST_F(Killed, AFolderThatCannotBeWrittenChangesNothing) {
  const std::vector<std::string> readOnly{
      "/usr/bin/unshare",
      "--mount",
      "--propagation",
      "private",
      "/bin/sh",
      "-c",
      "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"",
      dir.path().string()};
  {
    ChildProcess probe(readOnly[0], {readOnly.begin() + 1, readOnly.end()} /* then no program */);
    if (probe.wait() != 0) GTEST_SKIP() << "no mount namespace here: " << probe.standardError();
  }
  // The database is opened (and its journal written) before the folder is read-only.
  start();
  server->kill(SIGKILL);
  // A leftover that cannot be removed is said on the server's output, and it serves all the same.
  const std::string leftover = dir.file(".global_conf.json.relaydash-Ab3dE9");
  std::ofstream(leftover) << "{";
  start(readOnly);
  std::vector<std::string> said;
  while (const std::optional<std::string> line = server->readLine()) {
    said.push_back(*line);
    if (line->rfind("Listening", 0) == 0) break;
  }
  EXPECT_NE(std::find(said.begin(), said.end(),
                      "The temporary file " + fs::canonical(leftover).string() +
                          " that an interrupted write left could not be removed: Read-only "
                          "file system"),
            said.end())
      << ::testing::PrintToString(said);
  EXPECT_TRUE(fs::exists(leftover));
  const std::string answer =
      post("/rpc/forwarder-config/apply",
           R"({"auth":")" + token + R"(","input":{"patch":{"gateway_conf":{"stat_interval":9}}}})");
  EXPECT_NE(answer.find("HTTP/1.1 500"), std::string::npos) << answer;
  EXPECT_NE(answer.find("The history could not be written (Read-only file system), so nothing "
                        "was changed"),
            std::string::npos)
      << answer;
  EXPECT_EQ(readFile(config), original);
  EXPECT_EQ(restarts(), 0);
}

}  // namespace
}  // namespace relaydash
