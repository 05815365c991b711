// Runs cli_driver as a real process: the texts must reach the right stream, whole and flushed,
// and the process must end with the right status.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cheat_sheet.hpp"
#include "cli/command_line.hpp"
#include "cli/help.hpp"
#include "support/own_program.hpp"

namespace relaydash {
namespace {

struct Finished {
  std::string out, err;
  int status = -1;
};

// Starts the driver in a session of its own, without a controlling terminal and with stdin on
// /dev/null, so that only COLUMNS (when given) decides the help width.
Finished runDriver(const std::vector<std::string>& args, const char* columns) {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (!std::string_view(*variable).starts_with("COLUMNS=")) environment.emplace_back(*variable);
  }
  if (columns != nullptr) environment.push_back(std::string("COLUMNS=") + columns);
  std::vector<char*> envp;
  for (std::string& variable : environment)
    envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> command = testing::ownProgramCommand(CLI_DRIVER_PATH, args);
  std::vector<char*> argv;
  for (std::string& word : command)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  int out[2], err[2];
  EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  EXPECT_GE(child, 0);
  if (child == 0) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Finished finished;
  pollfd fds[] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[] = {&finished.out, &finished.err};
  for (int open = 2; open > 0;) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return finished;
}

TEST(Process, StreamsAndExitStatuses) {
  const std::string ranWithDefaults =
      "127.0.0.1\n9992\n/opt/kvo/packet_forwarder/lora_pkt_fwd/global_conf.json\n"
      "packet-forwarder\nrelaydash.sqlite3\n";
  const struct {
    std::vector<std::string> args;
    const char* columns;
    std::string out, err;
    int status;
  } cases[] = {
      {{}, nullptr, ranWithDefaults, "", 0},
      {{"-l", "", "-p", "1", "-f", "c", "--forwarderUnitServiceName", "u", "-d", "d"},
       nullptr,
       "\n1\nc\nu\nd\n",
       "",
       0},
      {{"--help"}, nullptr, composeHelp(kOptionTable, 80), "", 0},
      {{"-h"}, "200", composeHelp(kOptionTable, 200), "", 0},
      {{"-h"}, "0", composeHelp(kOptionTable, 80), "", 0},
      {{"--help-syntax"}, nullptr, std::string(kCheatSheet), "", 0},
      {{"--version"}, nullptr, "Unknown version\n", "", 0},
      {{"serve"},
       nullptr,
       "",
       "relaydash does not expect non-option arguments at \"serve\".\n"
       "Run with --help for full usage.\n",
       1},
      {{"-p", "x"},
       "200",
       "",
       "Bad value: \"x\" for option \"p\"; expecting int\n" + composeHelp(kOptionTable, 200),
       1},
      {{"--port=99999999999999999999999"},
       nullptr,
       "",
       "Bad value: \"99999999999999999999999\" for option \"port\"; out of range for int\n" +
           composeHelp(kOptionTable, 80),
       1},
  };
  for (const auto& c : cases) {
    const Finished finished = runDriver(c.args, c.columns);
    const std::string where = ::testing::PrintToString(c.args);
    EXPECT_EQ(finished.out, c.out) << where;
    EXPECT_EQ(finished.err, c.err) << where;
    EXPECT_EQ(finished.status, c.status) << where;
  }
}

}  // namespace
}  // namespace relaydash
