// /metrics over the wire, the application as start-up mounts it: hidden without a key, refused
// with a wrong one, and with a good one figures Prometheus reads, which keep counting across a
// forwarder restart.
#include "app/metrics_route.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/mounts.hpp"
#include "app/start_up.hpp"
#include "runtime/event_loop.hpp"
#include "server/http_server.hpp"
#include "support/fake_journal.hpp"
#include "support/loopback_client.hpp"
#include "support/read_file.hpp"
#include "support/scripted_systemctl.hpp"
#include "support/server_thread.hpp"
#include "support/temp_dir.hpp"
#include "transport/limits.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;
using testing::FakeJournal;
using testing::LoopbackClient;
using testing::statisticsReport;

const std::string kKey = "mk_0123456789abcdef0123456789abcdef";
const char* const kRunning =
    "LoadState=loaded\nActiveState=active\nSubState=running\nResult=success\n"
    "UnitFileState=enabled\nActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC\n"
    "StateChangeTimestamp=Tue 2026-12-08 10:11:12 UTC\nNRestarts=2\nMainPID=4242\n";

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The application on a loopback port, its /metrics taking kKey (or, with `ownKeys`, the keys
// the context keeps, as start-up mounts it), with the fake systemd tools on PATH and every
// status source read again whenever asked.
class Metrics : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string configPath = dir.file("global_conf.json");
  testing::ScriptedSystemctl& systemctl = testing::ScriptedSystemctl::instance();
  std::shared_ptr<Context> context;
  std::unique_ptr<HttpServer> server;
  std::optional<testing::ServerThread> thread;
  // Entries that reached the journal ten minutes ago, inside the hour the reports are read from.
  FakeJournal journal{"packet-forwarder", nowMicros() - 600'000'000};

  void SetUp() override {
    systemctl.reset();
    systemctl.show("packet-forwarder", kRunning);
    systemctl.timedatectl("NTPSynchronized=yes\n");
    std::ofstream(configPath, std::ios::binary) << readFile(
        "tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json");
  }
  void TearDown() override {
    thread.reset();
    ::unsetenv("RELAYDASH_STATUS_FRESH_MS");
  }

  void start(bool ownKeys = false) {
    // Every scrape starts a refresh, so a test sees the journal's news at the next scrapes.
    ::setenv("RELAYDASH_STATUS_FRESH_MS", "0", 1);
    context = newContext(configPath, "packet-forwarder", dir.file("relaydash.sqlite3"));
    init(*context);
    server = newHttpServer(limits::kMaxRequestBody);
    mountApplication(*server, {});
    if (!ownKeys) {
      mount(*server, "metrics",
            metricsRoute(*server, [](Context&, std::string_view key) { return key == kKey; }));
    }
    thread.emplace([this] {
      EventLoop::current().spawn(serve(
          *server, [this]() -> Context& { return *context; }, 0, "127.0.0.1"));
      return server->server->localPort();
    });
  }

  std::string raw(const std::string& request) {
    LoopbackClient client(thread->port());
    client.send(request);
    return client.readAnswer();
  }

  std::string scrape() {
    const std::string answer =
        raw("GET /metrics HTTP/1.1\r\nAuthorization: Bearer " + kKey + "\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
    return answer.substr(answer.find("\r\n\r\n") + 4);
  }

  // The value of the sample line that starts with `sample` ("name{labels}"), or nullopt.
  static std::optional<std::string> value(const std::string& exposition,
                                          const std::string& sample) {
    const auto at = exposition.find("\n" + sample + " ");
    if (at == std::string::npos) return std::nullopt;
    const auto from = at + sample.size() + 2;
    return exposition.substr(from, exposition.find('\n', from) - from);
  }

  // Scrapes until the sample has the value (a refresh landing), at most ten seconds.
  std::string scrapeUntil(const std::string& sample, const std::string& expected) {
    std::string last;
    for (int i = 0; i < 500; ++i) {
      last = scrape();
      if (value(last, sample) == expected) return last;
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << sample << " never became " << expected << " in:\n" << last;
    return last;
  }

  void report(const std::string& date, int received, double after = 30) {
    systemctl.journal("packet-forwarder",
                      journal.lines(statisticsReport(date, received, "100.00"), after));
  }
};

TEST_F(Metrics, WithoutAKeyTheRouteAnswersAsAnUnknownPath) {
  start();
  const std::string good = "Authorization: Bearer " + kKey + "\r\n";
  struct Case {
    std::string metrics, elsewhere;
  };
  const std::vector<Case> cases = {
      {"GET /metrics HTTP/1.1\r\n\r\n", "GET /nowhere HTTP/1.1\r\n\r\n"},
      {"HEAD /metrics HTTP/1.1\r\n\r\n", "HEAD /nowhere HTTP/1.1\r\n\r\n"},
      {"GET /metrics?x=1 HTTP/1.0\r\nHost: gw\r\n\r\n",
       "GET /nowhere?x=1 HTTP/1.0\r\nHost: gw\r\n\r\n"},
      // A key does not change the answer of a path below, or of another method.
      {"GET /metrics/x HTTP/1.1\r\n" + good + "\r\n",
       "GET /nowhere/x HTTP/1.1\r\n" + good + "\r\n"},
      {"POST /metrics HTTP/1.1\r\n" + good + "Content-Length: 0\r\n\r\n",
       "POST /nowhere HTTP/1.1\r\n" + good + "Content-Length: 0\r\n\r\n"},
  };
  for (const Case& c : cases) {
    const std::string answer = raw(c.metrics);
    EXPECT_EQ(answer, raw(c.elsewhere)) << c.metrics;
    EXPECT_EQ(answer.substr(0, 21), "HTTP/1.1 302 Found\r\nL") << c.metrics;
  }
}

TEST_F(Metrics, ARefusedKeyIs401WithItsOwnCode) {
  const std::string body = R"({"error":{"code":23020,"message":"Invalid metrics key"}})";
  const std::string refusal =
      "HTTP/1.1 401 Unauthorized\r\nContent-Type: application/json\r\n"
      "WWW-Authenticate: Bearer error=\"invalid_token\"\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  start();
  for (const std::string& authorization :
       std::vector<std::string>{"Bearer wrong", "Bearer " + kKey + "x",
                                "Basic YWRtaW46cXVpbG0=", "Bearer", "Bearer  ", "bearer" + kKey}) {
    EXPECT_EQ(raw("GET /metrics HTTP/1.1\r\nAuthorization: " + authorization + "\r\n\r\n"), refusal)
        << authorization;
  }
  // The scheme is read in any case, as HTTP's are.
  EXPECT_EQ(
      raw("GET /metrics HTTP/1.1\r\nAuthorization: BEARER " + kKey + "\r\n\r\n").substr(0, 15),
      "HTTP/1.1 200 OK");
}

TEST_F(Metrics, AsMountedTheKeysTheContextKeepsDecide) {
  start(true);
  const std::string answer =
      raw("GET /metrics HTTP/1.1\r\nAuthorization: Bearer " + kKey + "\r\n\r\n");
  EXPECT_EQ(answer.substr(0, 25), "HTTP/1.1 401 Unauthorized");
  EXPECT_NE(answer.find("23020"), std::string::npos);
}

TEST_F(Metrics, AGoodKeyGetsTheFiguresInTheTextFormat) {
  report("2025-12-06 05:47:10", 12);
  start();
  // A failed sign-in is counted as it happens.
  const std::string login = R"({"username":"admin","password":"wrong"})";
  raw("POST /rpc/v1/login/password HTTP/1.1\r\nContent-Length: " + std::to_string(login.size()) +
      "\r\n\r\n" + login);

  const std::string answer =
      raw("GET /metrics HTTP/1.1\r\nAuthorization: Bearer " + kKey + "\r\n\r\n");
  const std::string head = answer.substr(0, answer.find("\r\n\r\n"));
  const std::string body = answer.substr(head.size() + 4);
  EXPECT_EQ(head,
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
            "Content-Length: " +
                std::to_string(body.size()));
  // HEAD: the same head, no body (HTTP/1.0, so the server's close ends the answer).
  LoopbackClient headOnly(thread->port());
  headOnly.send("HEAD /metrics HTTP/1.0\r\nAuthorization: Bearer " + kKey + "\r\n\r\n");
  const std::string headAnswer = headOnly.readUntilClosed();
  EXPECT_EQ(headAnswer.substr(0, headAnswer.find("Content-Length")),
            head.substr(0, head.find("Content-Length")));
  EXPECT_TRUE(headAnswer.ends_with("\r\n\r\n")) << headAnswer;

  EXPECT_NE(body.find("# HELP relaydash_build_info "), std::string::npos);
  EXPECT_NE(body.find("# TYPE relaydash_build_info gauge\nrelaydash_build_info{version=\""),
            std::string::npos);
  EXPECT_EQ(value(body, "relaydash_sign_in_failures_total"), "1");
  EXPECT_EQ(value(body, "relaydash_sign_ins_held_total"), "0");
  EXPECT_EQ(value(body, "relaydash_descriptors_reclaimed_total"), "0");
  // This one, and the sign-in's if the server has not seen it close yet.
  EXPECT_GE(std::stoi(value(body, "relaydash_http_connections_open").value_or("0")), 1);
  const double started = std::stod(*value(body, "relaydash_start_time_seconds"));
  EXPECT_NEAR(started, static_cast<double>(nowMicros()) / 1e6, 60);
  // The first scrape waited for the first refresh: the forwarder is there.
  EXPECT_EQ(value(body, "relaydash_forwarder_unit_state{state=\"active\"}"), "1");
  EXPECT_EQ(value(body, "relaydash_forwarder_unit_state{state=\"failed\"}"), "0");
  EXPECT_EQ(value(body, "relaydash_forwarder_restarts_total"), "2");
  EXPECT_EQ(value(body, "relaydash_clock_synchronized"), "1");
  EXPECT_EQ(value(body, "relaydash_forwarder_frequency_plan_info{region=\"EU868\",sub_band=\"\"}"),
            "1");
  // The report present at start is not counted; its age is told.
  EXPECT_EQ(value(body, "relaydash_forwarder_statistics_reports_total"), "0");
  EXPECT_TRUE(value(body, "relaydash_forwarder_statistics_report_age_seconds"));
  // Every outcome and reason is there from the start; nothing of an apply before the first.
  for (const char* outcome : {"applied", "rolled-back", "rollback-failed", "refused", "failed"}) {
    EXPECT_EQ(value(body, std::string("relaydash_forwarder_config_applies_total{outcome=\"") +
                              outcome + "\"}"),
              "0")
        << outcome;
  }
  for (const char* reason : {"restart-failed", "stopped", "unreadable", "link"}) {
    EXPECT_EQ(value(body, std::string("relaydash_forwarder_config_rollbacks_total{reason=\"") +
                              reason + "\"}"),
              "0")
        << reason;
  }
  EXPECT_EQ(body.find("relaydash_forwarder_config_last_apply"), std::string::npos);
  EXPECT_EQ(body.find("relaydash_forwarder_config_version"), std::string::npos);
}

TEST_F(Metrics, ReportCountersKeepCountingAcrossAForwarderRestart) {
  report("2025-12-06 05:47:10", 12);
  report("2025-12-06 05:47:40", 10);
  start();
  std::string body = scrape();
  EXPECT_EQ(value(body, "relaydash_forwarder_statistics_reports_total"), "0");

  report("2025-12-06 05:48:10", 7);
  // The forwarder restarts within its next report (cut before its downstream block ends), and
  // the new process counts from nothing.
  std::vector<std::string> cut = statisticsReport("2025-12-06 05:48:40", 5, "100.00");
  cut.resize(13);
  systemctl.journal("packet-forwarder", journal.lines(cut, 30));
  journal.pid(5678);
  report("2025-12-06 05:48:50", 1, 10);
  // The newest is still open for all relaydash can tell (the rest in the forwarder's buffer):
  // three are counted.
  std::vector<std::string> open = statisticsReport("2025-12-06 05:49:20", 2, "100.00");
  open.resize(13);
  systemctl.journal("packet-forwarder", journal.lines(open, 30));
  body = scrapeUntil("relaydash_forwarder_statistics_reports_total", "3");
  EXPECT_EQ(value(body, "relaydash_forwarder_radio_packets_received_total"), "13");
  // 83.33 % of 7, 5 and 1: 6 + 4 + 1.
  EXPECT_EQ(value(body, "relaydash_forwarder_radio_packets_crc_ok_total"), "11");
  EXPECT_EQ(value(body, "relaydash_forwarder_push_data_sent_total"), "16");
  EXPECT_EQ(value(body, "relaydash_forwarder_push_data_acknowledged_total"), "16");
  EXPECT_EQ(value(body, "relaydash_forwarder_pull_data_sent_total"), "9");
  EXPECT_EQ(value(body, "relaydash_forwarder_downlinks_sent_total"), "3");

  // Scraped again and again, with nothing new: nothing counted twice.
  for (int i = 0; i < 5; ++i)
    body = scrape();
  EXPECT_EQ(value(body, "relaydash_forwarder_statistics_reports_total"), "3");
  EXPECT_EQ(value(body, "relaydash_forwarder_radio_packets_received_total"), "13");

  // journalctl fails for a while (the journal vacuumed past the cursor, say), so the hour is read
  // afresh once it answers again: every report comes again, and only the new ones count.
  const auto hourReads = [this] {
    std::size_t n = 0;
    for (const std::string& call : systemctl.calls("journalctl"))
      n += call.find("[--since=") != std::string::npos ? 1 : 0;
    return n;
  };
  const std::size_t hourReadsBefore = hourReads();
  systemctl.answer("journalctl", "1");
  report("2025-12-06 05:49:50", 3);
  const std::size_t before = systemctl.calls("journalctl").size();
  for (int i = 0; i < 500 && systemctl.calls("journalctl").size() < before + 2; ++i) {
    scrape();
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(value(scrape(), "relaydash_forwarder_statistics_reports_total"), "3");
  systemctl.answer("journalctl", "0");
  body = scrapeUntil("relaydash_forwarder_statistics_reports_total", "5");
  EXPECT_GT(hourReads(), hourReadsBefore);
  EXPECT_EQ(value(body, "relaydash_forwarder_radio_packets_received_total"), "18");
  for (int i = 0; i < 5; ++i)
    body = scrape();
  EXPECT_EQ(value(body, "relaydash_forwarder_statistics_reports_total"), "5");
  EXPECT_EQ(value(body, "relaydash_forwarder_push_data_sent_total"), "23");
}

TEST_F(Metrics, ChangesAreCountedAsTheyEnd) {
  start();
  const auto post = [this](const std::string& path, const std::string& body) {
    return raw("POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body);
  };
  const std::string signIn =
      post("/rpc/v1/login/password", R"({"username":"admin","password":"quilm"})");
  const auto from = signIn.find(R"("auth":")") + 8;
  const std::string auth = signIn.substr(from, signIn.find('"', from) - from);
  const auto change = [&](const std::string& procedure, const std::string& input) {
    const std::string answer = post("/rpc/forwarder-config/" + procedure,
                                    R"({"auth":")" + auth + R"(","input":)" + input + "}");
    return answer.substr(9, 3);
  };
  const std::string watchBriefly = R"("settleSeconds":0,"watch":"process")";
  EXPECT_EQ(
      change("apply", R"({"patch":{"gateway_conf":{"stat_interval":60}},)" + watchBriefly + "}"),
      "200");
  // Back to the file as it was: version 1 of the history holds it.
  EXPECT_EQ(change("restore", R"({"version":1,)" + watchBriefly + "}"), "200");
  EXPECT_EQ(change("apply", R"({"patch":{"gateway_conf":{"serv_port_up":0}}})"), "400");

  const std::string body = scrapeUntil("relaydash_forwarder_config_version", "1");
  EXPECT_EQ(value(body, "relaydash_forwarder_config_applies_total{outcome=\"applied\"}"), "2");
  EXPECT_EQ(value(body, "relaydash_forwarder_config_applies_total{outcome=\"refused\"}"), "1");
  EXPECT_EQ(value(body, "relaydash_forwarder_config_applies_total{outcome=\"failed\"}"), "0");
  EXPECT_EQ(value(body, "relaydash_forwarder_config_last_apply_outcome{outcome=\"refused\"}"), "1");
  const double ended = std::stod(
      value(body, "relaydash_forwarder_config_last_apply_timestamp_seconds").value_or("0"));
  EXPECT_NEAR(ended, static_cast<double>(nowMicros()) / 1e6, 60);
}

// Prometheus's own checker reads a real scrape. Debian's prometheus package gives promtool; a
// machine without it fails here unless RELAYDASH_NO_PROMTOOL says so.
TEST_F(Metrics, PromtoolAcceptsAScrape) {
  if (std::getenv("RELAYDASH_NO_PROMTOOL")) GTEST_SKIP() << "RELAYDASH_NO_PROMTOOL is set";
  report("2025-12-06 05:47:10", 12);
  start();
  scrape();
  report("2025-12-06 05:47:40", 10);
  report("2025-12-06 05:48:10", 9);
  const std::string body = scrapeUntil("relaydash_forwarder_statistics_reports_total", "2");
  // The server's thread ends first: qemu-user, which runs the armhf tests, crashes when a
  // process with another thread starts a program.
  thread.reset();
  const std::string file = dir.file("scrape.txt");
  const std::string output = dir.file("promtool.txt");
  std::ofstream(file, std::ios::binary) << body;
  const int status =
      std::system(("promtool check metrics < '" + file + "' > '" + output + "' 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(output) << "\n" << body;
  EXPECT_EQ(readFile(output), "");
}

}  // namespace
}  // namespace relaydash
