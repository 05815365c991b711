#include "cli/help.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace relaydash {
namespace {

// Up to 114 columns the description column stays at its 16-column minimum, which cuts the
// long names.
constexpr std::string_view kHelpNarrow = R"help(Usage:
  relaydash [optional-params] 
Options:
  -h, --help                                                                                      print this
                                                                                                  cligen-erated
                                                                                                  help
  --help-syntax                                                                                   advanced:
                                                                                                  prepend,plurals,
                                                                                                  ..
  -l=, --listen=               string  "127.0.0.1"                                                set listen
  -p=, --port=                 int     9992                                                       set port
  -f=, --forwarderConfigPath=  string  "/opt/kvo/packet_forwarder/lora_pkt_fwd/global_conf.json"  set
                                                                                                  forwarderConfigP
                                                                                                  ath
  --forwarderUnitServiceName=  string  "packet-forwarder"                                         set
                                                                                                  forwarderUnitSer
                                                                                                  viceName
  -d=, --dataPath=             string  "relaydash.sqlite3"                                        set dataPath
)help";

constexpr std::string_view kHelp200 = R"help(Usage:
  relaydash [optional-params] 
Options:
  -h, --help                                                                                      print this cligen-erated help
  --help-syntax                                                                                   advanced: prepend,plurals,..
  -l=, --listen=               string  "127.0.0.1"                                                set listen
  -p=, --port=                 int     9992                                                       set port
  -f=, --forwarderConfigPath=  string  "/opt/kvo/packet_forwarder/lora_pkt_fwd/global_conf.json"  set forwarderConfigPath
  --forwarderUnitServiceName=  string  "packet-forwarder"                                         set forwarderUnitServiceName
  -d=, --dataPath=             string  "relaydash.sqlite3"                                        set dataPath
)help";

TEST(Help, LayoutFollowsTheTerminalWidth) {
  const struct {
    int width;
    std::string_view expected;
  } cases[] = {
      {80, kHelpNarrow}, {40, kHelpNarrow},  {0, kHelpNarrow},
      {-5, kHelpNarrow}, {114, kHelpNarrow}, {200, kHelp200},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(composeHelp(kOptionTable, c.width), c.expected) << "width " << c.width;
  }
}

TEST(Help, WrapsAtSpacesAndCutsOverlongWords) {
  const struct {
    std::string_view text;
    std::size_t width;
    std::vector<std::string> lines;
  } cases[] = {
      {"", 5, {""}},
      {"ab cde", 5, {"ab", "cde"}},
      {"  ab   cd  ", 5, {"ab cd"}},
      {"abcdefghijk", 4, {"abcd", "efgh", "ijk"}},
      {"a abcdefgh b", 4, {"a", "abcd", "efgh", "b"}},
      // Widths count characters, not bytes.
      {"\u00e9\u00e9\u00e9 \u00e9\u00e9", 6, {"\u00e9\u00e9\u00e9 \u00e9\u00e9"}},
      {"\u00e9\u00e9\u00e9\u00e9\u00e9", 2, {"\u00e9\u00e9", "\u00e9\u00e9", "\u00e9"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wrapWords(c.text, c.width), c.lines) << c.text << " at " << c.width;
  }
}

TEST(Help, DefaultsAreQuotedWithEscapes) {
  const struct {
    std::string_view text, quoted;
  } cases[] = {
      {"", R"("")"},
      {"127.0.0.1", R"("127.0.0.1")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir", R"("C:\\dir")"},
      {"a\tb\nc\rd", R"("a\tb\nc\rd")"},
      {std::string_view("\x01\x7f\0", 3), R"("\x01\x7f\x00")"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quoteDefault(c.text), c.quoted);
}

}  // namespace
}  // namespace relaydash
