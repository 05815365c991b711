#include "gateway/service_control.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "runtime/event_loop.hpp"
#include "support/scripted_systemctl.hpp"

namespace relaydash {
namespace {

using testing::ScriptedSystemctl;
using namespace std::chrono_literals;

void runNow(Task<void> task) {
  EventLoop loop;
  loop.blockOn(std::move(task));
}

TEST(Run, StatusAsAShellReportsIt) {
  const struct {
    const char* command;
    int exitCode;
  } rows[] = {
      {"true", 0},
      {"exit 5", 5},
      {"exit 255", 255},
      {"kill -9 $$", 137},
      {"kill -TERM $$", 143},
      {"{ sh -c 'kill -9 $$'; } 2>/dev/null", 137},  // a child killed: the shell itself reports 137
      {"relaydash-no-such-command 2>/dev/null", 127},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.command);
    try {
      runNow(run(row.command));
      EXPECT_EQ(row.exitCode, 0);
    } catch (const ExecError& e) {
      EXPECT_EQ(e.exitCode(), row.exitCode);
      EXPECT_EQ(e.command(), row.command);
      EXPECT_EQ(e.output(), "");
      EXPECT_STREQ(e.what(), "Non-zero exit code");
    }
  }
}

TEST(Run, TheLoopServesOthersWhileACommandRuns) {
  EventLoop loop;
  int ticks = 0;
  bool done = false;
  auto ticker = [&]() -> Task<void> {
    while (!done) {
      co_await SleepFor(10ms);
      ++ticks;
    }
  };
  auto command = [&]() -> Task<void> {
    co_await run("sleep 0.3");
    done = true;
  };
  loop.spawn(ticker());
  loop.blockOn(command());
  // A blocked loop would not have ticked at all.
  EXPECT_GE(ticks, 10);
}

TEST(Run, ACommandPastItsLimitIsStoppedAndSaysSo) {
  const auto start = std::chrono::steady_clock::now();
  try {
    runNow(run("sleep 30", 300ms));
    ADD_FAILURE() << "no error";
  } catch (const ExecError& e) {
    // Still an ExecError for whoever catches those.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(e.command(), "sleep 30");
    EXPECT_EQ(e.exitCode(), 137);
    EXPECT_STREQ(e.what(), "sleep 30 did not finish within 300 ms and was stopped");
    const auto* timedOut = dynamic_cast<const CommandTimedOut*>(&e);
    ASSERT_NE(timedOut, nullptr);
    EXPECT_EQ(timedOut->timeLimit(), 300ms);
  }
  // Within the limit nothing changes: a failure is no timeout.
  try {
    runNow(run("exit 3", 10s));
    ADD_FAILURE() << "no error";
  } catch (const ExecError& e) {
    EXPECT_EQ(dynamic_cast<const CommandTimedOut*>(&e), nullptr);
    EXPECT_EQ(e.exitCode(), 3);
    EXPECT_STREQ(e.what(), "Non-zero exit code");
  }
  runNow(run("sleep 0.1", 10s));

  const CommandTimedOut restart("systemctl restart packet-forwarder", kSystemctlTimeout);
  EXPECT_STREQ(restart.what(),
               "systemctl restart packet-forwarder did not finish within 120 s and was stopped");
  const CommandTimedOut noted = restart.noting("the configuration file was written");
  EXPECT_STREQ(noted.what(),
               "systemctl restart packet-forwarder did not finish within 120 s and was stopped; "
               "the configuration file was written");
  EXPECT_EQ(noted.command(), restart.command());
  EXPECT_EQ(noted.exitCode(), 137);
}

TEST(UnitOperations, CommandLinesReachTheShellUnquoted) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  systemctl.reset();
  const std::vector<std::function<Task<void>()>> calls{
      [] { return restart("packet-forwarder"); },
      [] { return start("ssh"); },
      [] { return enable("ssh"); },
      [] { return stop("ssh"); },
      [] { return disable("ssh"); },
      [] { return restart("two words"); },
      [] { return restart(""); },
  };
  for (const auto& call : calls)
    runNow(call());
  EXPECT_EQ(systemctl.calls(),
            (std::vector<std::string>{"systemctl [restart] [packet-forwarder]",
                                      "systemctl [start] [ssh]", "systemctl [enable] [ssh]",
                                      "systemctl [stop] [ssh]", "systemctl [disable] [ssh]",
                                      "systemctl [restart] [two] [words]", "systemctl [restart]"}));
}

TEST(UnitOperations, FailingSystemctlRaisesWithTheWholeCommandLine) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  const struct {
    const char* status;
    int exitCode;
  } rows[] = {{"5", 5}, {"kill", 137}};
  for (const auto& row : rows) {
    systemctl.reset();
    systemctl.answer("stop", row.status);
    try {
      runNow(stop("ssh unit"));
      ADD_FAILURE() << "no error for status " << row.status;
    } catch (const ExecError& e) {
      EXPECT_EQ(e.command(), "systemctl stop ssh unit");
      EXPECT_EQ(e.exitCode(), row.exitCode);
    }
    EXPECT_EQ(systemctl.calls(), std::vector<std::string>{"systemctl [stop] [ssh] [unit]"});
  }
}

TEST(UnitOperations, AHangingSystemctlIsStoppedAtTheLimit) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  systemctl.reset();
  systemctl.answer("restart", "hang");
  // The environment shortens the limit, as the route tests do.
  ::setenv("RELAYDASH_SYSTEMCTL_TIMEOUT_MS", "300", 1);
  try {
    runNow(restart("packet-forwarder"));
    ADD_FAILURE() << "no error";
  } catch (const CommandTimedOut& e) {
    EXPECT_STREQ(e.what(),
                 "systemctl restart packet-forwarder did not finish within 300 ms and was stopped");
  }
  // A limit that is no positive number of milliseconds leaves the usual one.
  for (const char* text : {"0", "-5", "3s", ""}) {
    ::setenv("RELAYDASH_SYSTEMCTL_TIMEOUT_MS", text, 1);
    runNow(start("ssh"));
  }
  ::unsetenv("RELAYDASH_SYSTEMCTL_TIMEOUT_MS");
  EXPECT_EQ(systemctl.calls().front(), "systemctl [restart] [packet-forwarder]");
}

}  // namespace
}  // namespace relaydash
