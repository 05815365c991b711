#include "runtime/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "runtime/event_loop.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ProcessResult run(std::vector<std::string> argv, ProcessLimits limits = {}, OutputSink sink = {}) {
  EventLoop loop;
  return loop.blockOn(runProcess(std::move(argv), limits, std::move(sink)));
}

std::vector<std::string> sh(const std::string& script) {
  return {"sh", "-c", script};
}

// Whether the process is gone (or only a zombie left to whoever adopted it).
bool gone(pid_t pid) {
  for (int i = 0; i < 100; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return true;
    const auto close = text.rfind(')');
    if (close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'Z')
      return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

pid_t readPid(const std::string& file) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(file);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

// Every case runs with each way of noticing an exit: a pidfd, and SIGCHLD alone.
class Process : public ::testing::TestWithParam<ChildExitNotice> {
 protected:
  void SetUp() override { setChildExitNotice(GetParam()); }
  void TearDown() override { setChildExitNotice(ChildExitNotice::Automatic); }
};

TEST_P(Process, StatusOutputAndErrorAsAShellReportsThem) {
  const struct {
    std::string script;
    int status;
    std::string output;
    std::string errorOutput;
  } rows[] = {
      {"exit 0", 0, "", ""},
      {"echo out; echo err >&2; exit 3", 3, "out\n", "err\n"},
      {"exit 255", 255, "", ""},
      {"kill -TERM $$", 143, "", ""},
      {"printf partial; kill -KILL $$", 137, "partial", ""},
      {"cat; echo read-nothing", 0, "read-nothing\n", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    const ProcessResult r = run(sh(row.script));
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.output, row.output);
    EXPECT_EQ(r.errorOutput, row.errorOutput);
    EXPECT_TRUE(r.started());
    EXPECT_FALSE(r.timedOut);
    EXPECT_FALSE(r.truncated);
  }
}

TEST_P(Process, ArgumentsArriveAsTheyAreAndTheEnvironmentIsOnlyPathAndLang) {
  ::setenv("RELAYDASH_SECRET", "must-not-leak", 1);
  const ProcessResult printed =
      run({"printf", "[%s]", "two words", "$HOME", "; rm -rf /", "", "*"});
  EXPECT_EQ(printed.output, "[two words][$HOME][; rm -rf /][][*]");
  const ProcessResult env = run({"env"});
  EXPECT_EQ(env.output, "PATH=" + std::string(::getenv("PATH")) + "\nLANG=C\n");
  ::unsetenv("RELAYDASH_SECRET");
}

TEST_P(Process, ProgramsThatCannotStart) {
  TempDir dir;
  std::ofstream(dir / "plain") << "#!/bin/sh\necho hi\n";
  const struct {
    std::string program;
    int error;
  } rows[] = {
      {"relaydash-no-such-program", ENOENT},
      {dir / "missing", ENOENT},
      {dir / "plain", EACCES},        // not executable
      {dir.path().string(), EACCES},  // a directory
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.program);
    const ProcessResult r = run({row.program});
    EXPECT_FALSE(r.started());
    EXPECT_EQ(r.startError, row.error);
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.errorOutput.find(row.program), std::string::npos) << r.errorOutput;
  }
}

TEST_P(Process, ATimeoutKillsTheProgramAndWhatItStarted) {
  TempDir dir;
  const auto start = Clock::now();
  const ProcessResult r =
      run(sh("sleep 30 & echo $! > " + (dir / "pid") + "; echo started; wait"), {.timeout = 300ms});
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.status, 137);
  EXPECT_EQ(r.output, "started\n");
  EXPECT_TRUE(gone(readPid(dir / "pid")));
}

TEST_P(Process, OutputBeyondTheCapIsCountedAndDropped) {
  const ProcessResult r =
      run(sh("head -c 300000 /dev/zero; head -c 5000 /dev/zero >&2; echo done >&2"),
          {.maxOutput = 1000});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, std::string(1000, '\0'));
  EXPECT_EQ(r.errorOutput, std::string(1000, '\0'));
  EXPECT_TRUE(r.truncated);
  EXPECT_EQ(r.droppedBytes, 299000u + 4005u);
}

TEST_P(Process, ASinkGetsAllTheOutputInPiecesOrStopsTheProgramAndWhatItStarted) {
  std::string expected;
  for (int i = 1; i <= 100'000; ++i)
    expected += std::to_string(i) + "\n";
  std::string got;
  int pieces = 0;
  const ProcessResult all =
      run(sh("seq 1 100000; echo said >&2"), {.maxOutput = 4}, [&](std::string_view piece) {
        got.append(piece);
        ++pieces;
        return true;
      });
  EXPECT_EQ(all.status, 0);
  EXPECT_FALSE(all.stopped);
  EXPECT_EQ(got, expected);
  EXPECT_GT(pieces, 1);
  // Nothing is kept of what went to the sink; standard error keeps its cap.
  EXPECT_EQ(all.output, "");
  EXPECT_EQ(all.errorOutput, "said");
  EXPECT_TRUE(all.truncated);

  TempDir dir;
  std::size_t seen = 0;
  const ProcessResult stopped =
      run(sh("sleep 30 & echo $! > " + (dir / "pid") + "; yes"), {}, [&](std::string_view piece) {
        seen += piece.size();
        return seen < 100'000;
      });
  EXPECT_TRUE(stopped.stopped);
  EXPECT_FALSE(stopped.timedOut);
  EXPECT_EQ(stopped.status, 137);
  EXPECT_GE(seen, 100'000u);
  EXPECT_TRUE(gone(readPid(dir / "pid")));
}

TEST_P(Process, AProgramThatClosesItsOutputIsStillAwaitedToItsExit) {
  const auto start = Clock::now();
  const ProcessResult r = run(sh("echo early; exec >&- 2>&-; sleep 0.4; exit 4"));
  EXPECT_GE(Clock::now() - start, 400ms);
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.output, "early\n");
}

TEST_P(Process, OutputHeldOpenAfterTheExitIsNotWaitedFor) {
  TempDir dir;
  const auto start = Clock::now();
  const ProcessResult r = run(sh("sleep 30 & echo $! > " + (dir / "pid") + "; echo bye"));
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "bye\n");
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(gone(readPid(dir / "pid")));
}

TEST_P(Process, NoDescriptorOfOursReachesTheProgram) {
  // Opened without close-on-exec, as a careless library would.
  const int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  // ls runs as the shell's child and lists the shell's descriptors.
  const ProcessResult r = run(sh("ls /proc/$$/fd; true"));
  ::close(leaky);
  EXPECT_EQ(r.output, "0\n1\n2\n");
}

TEST_P(Process, ProgramsRunSideBySideWhileTheLoopServesOthers) {
  EventLoop loop;
  int finished = 0;
  int ticks = 0;
  auto sleeper = [&]() -> Task<void> {
    const ProcessResult r = co_await runProcess(sh("sleep 0.3"));
    EXPECT_EQ(r.status, 0);
    ++finished;
  };
  auto ticker = [&]() -> Task<void> {
    while (finished < 10) {
      co_await SleepFor(10ms);
      ++ticks;
    }
  };
  const auto start = Clock::now();
  for (int i = 0; i < 10; ++i)
    loop.spawn(sleeper());
  loop.blockOn(ticker());
  // One after another they would take 3 s.
  EXPECT_LT(Clock::now() - start, 2500ms);
  EXPECT_EQ(finished, 10);
  EXPECT_GT(ticks, 10);
}

TEST_P(Process, AnAbandonedProgramIsKilledAndReaped) {
  TempDir dir;
  {
    EventLoop loop;
    loop.spawn([](std::string pidFile) -> Task<void> {
      co_await runProcess(sh("echo $$ > " + pidFile + "; exec sleep 30"));
    }(dir / "pid"));
    const pid_t pid = readPid(dir / "pid");
    ASSERT_GT(pid, 0);
    loop.runFor(20ms);
  }
  // Reaped by us: no child of ours is left, not even a zombie.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_P(Process, ShellCommandsReportTheirStatusAsSystemDoes) {
  ::setenv("RELAYDASH_INHERITED", "yes", 1);
  const struct {
    const char* command;
    int status;
  } rows[] = {
      {"true", 0},
      {"exit 5", 5},
      {"kill -9 $$", 137},
      {"{ sh -c 'kill -9 $$'; } 2>/dev/null", 137},
      {"relaydash-no-such-command 2>/dev/null", 127},
      {"test \"$RELAYDASH_INHERITED\" = yes", 0},
  };
  EventLoop loop;
  // Without a limit, and within one: a kill that is no timeout is reported as it is.
  for (const std::optional<std::chrono::milliseconds> limit :
       {std::optional<std::chrono::milliseconds>{}, std::optional{10'000ms}}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(row.command);
      const ShellResult r = loop.blockOn(runShellCommand(row.command, limit));
      EXPECT_EQ(r.status, row.status);
      EXPECT_FALSE(r.timedOut);
    }
  }
  ::unsetenv("RELAYDASH_INHERITED");
}

TEST_P(Process, AShellCommandPastItsLimitIsKilledWithWhatItStarted) {
  TempDir dir;
  // systemctl as the shell's child, which would outlive a shell killed alone.
  const std::string command = "sh -c 'echo $$ > " + (dir / "pid") + "; exec sleep 30' & wait";
  EventLoop loop;
  const auto start = Clock::now();
  const ShellResult r = loop.blockOn(runShellCommand(command, 500ms));
  EXPECT_GE(Clock::now() - start, 500ms);
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.status, 137);
  const pid_t grandchild = readPid(dir / "pid");
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(gone(grandchild));
  // The shell was reaped: no child of ours is left, not even a zombie.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

// Work done in a forked child: what it returns is its output, what it throws its error; it holds
// none of our descriptors (a connection we close is closed for its peer at once), and it never
// flushes what we buffered or runs our exit handlers.
TEST_P(Process, ForkedWorkReturnsItsOutputOrItsError) {
  std::printf("%s", "(buffered here, written once)\n");
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const int ours = pair[0];
  EventLoop loop;
  const ProcessResult done = loop.blockOn(runForked([ours] {
    // Its copy is gone already: a write fails.
    const bool held = ::write(ours, "x", 1) == 1;
    return std::string(held ? "held" : "closed") + std::string(100000, '.');
  }));
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.output.substr(0, 6), "closed");
  EXPECT_EQ(done.output.size(), 100006u);  // nothing of our buffer
  ::close(pair[0]);
  char byte = 0;
  EXPECT_EQ(::read(pair[1], &byte, 1), 0);  // ours alone held it
  ::close(pair[1]);

  const ProcessResult failed =
      loop.blockOn(runForked([]() -> std::string { throw std::runtime_error("no room"); }));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.errorOutput, "no room");
  EXPECT_TRUE(failed.output.empty());
  std::fflush(stdout);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

INSTANTIATE_TEST_SUITE_P(ExitNotice, Process,
                         ::testing::Values(ChildExitNotice::Automatic, ChildExitNotice::SignalOnly),
                         [](const auto& info) {
                           return info.param == ChildExitNotice::Automatic ? "Pidfd" : "Signal";
                         });

}  // namespace
}  // namespace relaydash
