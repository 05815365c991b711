#include "gateway/phrase_match.hpp"

#include <gtest/gtest.h>

namespace relaydash {
namespace {

// Lines as the packet forwarder writes them.
constexpr const char* kAckFull = "# PUSH_DATA acknowledged: 100.00%";
constexpr const char* kAckNone = "# PUSH_DATA acknowledged: 0.00%";
constexpr const char* kTxErrors = "# TX errors: 0";
constexpr const char* kError = "ERROR: [up] send failed";

TEST(PhraseMatch, APhraseIsFoundAsAWholeAndItsCapitalsAskForExactCase) {
  const struct {
    const char* phrase;
    const char* text;
    bool found;
  } rows[] = {
      // A whole phrase, not its words anywhere in the line.
      {"acknowledged: 0.00", kAckNone, true},
      {"acknowledged: 0.00", kAckFull, false},
      {"acknowledged: 100", kAckFull, true},
      {"100.00% acknowledged", kAckFull, false},
      // Without a capital: any case.
      {"error", kTxErrors, true},
      {"error", kError, true},
      {"push_data", kAckFull, true},
      // With one: that case only.
      {"ERROR", kTxErrors, false},
      {"ERROR", kError, true},
      {"Error", kError, false},
      {"PUSH_DATA ack", kAckFull, true},
      // Letters beyond ASCII are compared as they are.
      {"caf\xC3\xA9", "CAF\xC3\xA9 open", true},
      {"caf\xC3\xA9", "caf\xC3\x89", false},
      // The whole text, its ends, and more than it holds.
      {"# TX errors: 0", kTxErrors, true},
      {": 0", kTxErrors, true},
      {"# TX errors: 0 ", kTxErrors, false},
      {"x", "", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(PhraseMatch(row.phrase).foundIn(row.text), row.found)
        << '"' << row.phrase << "\" in \"" << row.text << '"';
}

}  // namespace
}  // namespace relaydash
