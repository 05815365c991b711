#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/cheat_sheet.hpp"
#include "cli/help.hpp"

namespace relaydash {
namespace {

constexpr int kWidth = 80;
constexpr std::string_view kFwd = "/opt/kvo/packet_forwarder/lora_pkt_fwd/global_conf.json";

ParseResult parse(const std::vector<std::string_view>& args) {
  return parseCommandLine(args, kWidth);
}

StartupOptions options(std::string_view listen, std::int32_t port,
                       std::string_view forwarderConfigPath = kFwd,
                       std::string_view forwarderUnitServiceName = "packet-forwarder",
                       std::string_view dataPath = "relaydash.sqlite3") {
  return {std::string(listen), port, std::string(forwarderConfigPath),
          std::string(forwarderUnitServiceName), std::string(dataPath)};
}

TEST(CommandLine, EverySpellingSetsThePort) {
  const std::vector<std::string_view> spellings[] = {
      {"--port", "8080"}, {"--port=8080"}, {"--port:8080"},    {"-p8080"},
      {"-p=8080"},        {"-p", "8080"},  {"--po", "8080"},   {"--pORT", "8080"},
      {"--p_o-r_t=8080"}, {"-p^:8080"},    {"--port-=8_080 "}, {"-p1", "--port", "2", "-p8080"},
  };
  for (const auto& args : spellings) {
    const ParseResult result = parse(args);
    EXPECT_EQ(result.outcome, Outcome::Run) << ::testing::PrintToString(args) << result.text;
    EXPECT_EQ(result.options, options("127.0.0.1", 8080)) << ::testing::PrintToString(args);
  }
}

TEST(CommandLine, OptionsThatRunTheServer) {
  const struct {
    std::vector<std::string_view> args;
    StartupOptions expected;
  } cases[] = {
      {{}, options("127.0.0.1", 9992)},
      {{"--"}, options("127.0.0.1", 9992)},
      {{"-p", "-5", "--"}, options("127.0.0.1", -5)},
      {{"--listen"}, options("", 9992)},
      {{"-l"}, options("", 9992)},
      {{"-l", "-x"}, options("-x", 9992)},
      {{"-l0.0.0.0"}, options("0.0.0.0", 9992)},
      {{"--listen=a=b:c"}, options("a=b:c", 9992)},
      {{"--listen=a", "--listen+=b"}, options("ab", 9992)},
      {{"--listen&=b", "-l^=c"}, options("c127.0.0.1b", 9992)},
      {{"-d", "/db", "--forwarder-config-path", "/c.json"},
       options("127.0.0.1", 9992, "/c.json", "packet-forwarder", "/db")},
      {{"--fORWARDERCONFIGPATH=/c.json", "--data_path:/db"},
       options("127.0.0.1", 9992, "/c.json", "packet-forwarder", "/db")},
      {{"--forwarderUnitServiceName="}, options("127.0.0.1", 9992, kFwd, "")},
      {{"--forwarderu", "lora"}, options("127.0.0.1", 9992, kFwd, "lora")},
  };
  for (const auto& c : cases) {
    const ParseResult result = parse(c.args);
    EXPECT_EQ(result.outcome, Outcome::Run) << ::testing::PrintToString(c.args) << result.text;
    EXPECT_EQ(result.options, c.expected) << ::testing::PrintToString(c.args);
  }
}

std::string unknownLong(std::string_view key, std::string_view suggestions) {
  std::string text = "Unknown long option: \"" + std::string(key) + "\"\n\n";
  if (!suggestions.empty())
    text += "Maybe you meant one of:\n\t" + std::string(suggestions) + "\n\n";
  return text + "Run with --help for full usage.\n";
}

std::string ambiguous(std::string_view key, std::string_view first, std::string_view second) {
  return "Ambiguous long option prefix \"" + std::string(key) + "\" matches:\n  " +
         std::string(first) + "\n  " + std::string(second) +
         " \nRun with --help for more details.\n";
}

std::string badValue(std::string_view value, std::string_view key, std::string_view problem) {
  return "Bad value: \"" + std::string(value) + "\" for option \"" + std::string(key) + "\"; " +
         std::string(problem) + " int\n" + composeHelp(kOptionTable, kWidth);
}

std::string nonOption(std::string_view argument) {
  return "relaydash does not expect non-option arguments at \"" + std::string(argument) +
         "\".\nRun with --help for full usage.\n";
}

TEST(CommandLine, HelpAndVersionStopWithStatusZero) {
  const std::string help = composeHelp(kOptionTable, kWidth);
  const std::string sheet(kCheatSheet);
  const std::string version = "Unknown version\n";
  const struct {
    std::vector<std::string_view> args;
    Outcome outcome;
    std::string text;
  } cases[] = {
      {{"-h"}, Outcome::HelpOnly, help},
      {{"--help"}, Outcome::HelpOnly, help},
      {{"--help-"}, Outcome::HelpOnly, help},
      {{"--help=no"}, Outcome::HelpOnly, help},
      // The help shows the defaults, whatever came before; what follows is not looked at.
      {{"--port=1", "--listen=x", "--help", "--nope"}, Outcome::HelpOnly, help},
      {{"-hx"}, Outcome::HelpOnly, help},
      {{"--help-syntax", "--nope"}, Outcome::HelpOnly, sheet},
      {{"--helpS"}, Outcome::HelpOnly, sheet},
      {{"--version"}, Outcome::VersionOnly, version},
      {{"--ver_sion", "x", "--help"}, Outcome::VersionOnly, version},
  };
  for (const auto& c : cases) {
    const ParseResult result = parse(c.args);
    EXPECT_EQ(result.outcome, c.outcome) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.text, c.text) << ::testing::PrintToString(c.args);
    EXPECT_FALSE(result.toStderr);
    EXPECT_EQ(result.exitStatus(), 0);
  }
}

TEST(CommandLine, ErrorsStopWithStatusOne) {
  const std::string unknownShort = "\"\n\nRun with --help for full usage.\n";
  const struct {
    std::vector<std::string_view> args;
    std::string text;
  } cases[] = {
      {{"--nope", "--help"}, unknownLong("nope", "port")},
      {{"--lisen"}, unknownLong("lisen", "listen")},
      {{"--Port", "8080"}, unknownLong("Port", "port")},
      {{"--vers"}, unknownLong("vers", "help port")},
      {{"--Version"}, unknownLong("Version", "")},
      {{"--lest+=x"}, unknownLong("lest", "help listen port")},
      {{"---"}, unknownLong("-", "")},
      {{"-x"}, "Unknown short option: \"x" + unknownShort},
      {{"-P", "1"}, "Unknown short option: \"P" + unknownShort},
      {{"--f", "x"}, ambiguous("f", "forwarderConfigPath", "forwarderUnitServiceName")},
      {{"--forwarder=x"},
       ambiguous("forwarder", "forwarderConfigPath", "forwarderUnitServiceName")},
      {{"--h"}, ambiguous("h", "help", "help-syntax")},
      {{"--he"}, ambiguous("he", "help", "help-syntax")},
      {{"--h-E-l"}, ambiguous("h-E-l", "help", "help-syntax")},
      {{"-p", "abc"}, badValue("abc", "p", "expecting")},
      {{"--port"}, badValue("", "port", "expecting")},
      {{"--po=8 080"}, badValue("8 080", "po", "expecting")},
      {{"-p", "2147483648"}, badValue("2147483648", "p", "out of range for")},
      {{"--pORT=-99999999999999999999"},
       badValue("-99999999999999999999", "pORT", "out of range for")},
      {{"--listen-=x"}, "Bad operator (\"-=\") for strings, param listen\n"},
      {{"-l*:x"}, "Bad operator (\"*:\") for strings, param l\n"},
      {{"--data_path,+=x"}, "Bad operator (\",+=\") for strings, param data_path\n"},
      {{"serve", "--help"}, nonOption("serve")},
      {{"-"}, nonOption("-")},
      {{"--listen", "--port", "5"}, nonOption("5")},
      {{"--", "--help"}, nonOption("--help")},
      {{"--", "--"}, nonOption("--")},
  };
  for (const auto& c : cases) {
    const ParseResult result = parse(c.args);
    EXPECT_EQ(result.outcome, Outcome::ParseError) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.text, c.text) << ::testing::PrintToString(c.args);
    EXPECT_TRUE(result.toStderr);
    EXPECT_EQ(result.exitStatus(), 1);
  }
}

TEST(CommandLine, CheatSheetStartsWithItsTitle) {
  EXPECT_TRUE(kCheatSheet.starts_with("BASIC CHEAT SHEET:\n"));
  EXPECT_TRUE(kCheatSheet.ends_with("\n"));
}

}  // namespace
}  // namespace relaydash
