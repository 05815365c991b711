#include "service_control.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/scripted_systemctl.hpp"

namespace relaydash {
namespace {

using testing::ScriptedSystemctl;

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
      run(row.command);
      EXPECT_EQ(row.exitCode, 0);
    } catch (const ExecError& e) {
      EXPECT_EQ(e.exitCode(), row.exitCode);
      EXPECT_EQ(e.command(), row.command);
      EXPECT_EQ(e.output(), "");
      EXPECT_STREQ(e.what(), "Non-zero exit code");
    }
  }
}

TEST(UnitOperations, CommandLinesReachTheShellUnquoted) {
  ScriptedSystemctl& systemctl = ScriptedSystemctl::instance();
  systemctl.reset();
  const std::vector<std::function<void()>> calls{
      [] { restart("packet-forwarder"); },
      [] { start("ssh"); },
      [] { enable("ssh"); },
      [] { stop("ssh"); },
      [] { disable("ssh"); },
      [] { restart("two words"); },
      [] { restart(""); },
  };
  for (const auto& call : calls)
    call();
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
      stop("ssh unit");
      ADD_FAILURE() << "no error for status " << row.status;
    } catch (const ExecError& e) {
      EXPECT_EQ(e.command(), "systemctl stop ssh unit");
      EXPECT_EQ(e.exitCode(), row.exitCode);
    }
    EXPECT_EQ(systemctl.calls(), std::vector<std::string>{"systemctl [stop] [ssh] [unit]"});
  }
}

}  // namespace
}  // namespace relaydash
