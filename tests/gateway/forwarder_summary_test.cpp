#include "gateway/forwarder_summary.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

const std::string kSamples = "tests/data/forwarder/";

TEST(ForwarderSummary, EverySampleAtAGlance) {
  const struct {
    const char* file;
    const char* layout;
    const char* address;
    std::int64_t up, down;
    bool comments;
    std::int64_t statInterval;
  } rows[] = {
      {"sx1301-eu868-kersing-mp_pkt_fwd-multiserver.global_conf.json", "SX1301_conf", "127.0.0.1",
       1680, 1681, true, 30},
      {"sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict.global_conf.json", "SX1301_conf",
       "127.0.0.1", 1780, 1782, false, 20},
      {"sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json", "SX1301_conf", "localhost",
       1680, 1680, true, 30},
      {"sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json", "SX130x_conf", "localhost",
       1730, 1730, true, 30},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const ForwarderSummary s = summarizeForwarderConfig(kSamples + row.file);
    EXPECT_EQ(s.error, std::nullopt);
    EXPECT_EQ(s.gatewayId, "AA555A0000000000");
    EXPECT_EQ(s.layout, row.layout);
    EXPECT_EQ(s.serverAddress, row.address);
    EXPECT_EQ(s.serverPortUp, row.up);
    EXPECT_EQ(s.serverPortDown, row.down);
    EXPECT_EQ(s.hasComments, row.comments);
    EXPECT_EQ(s.statInterval, row.statInterval);
    EXPECT_EQ(s.sizeBytes,
              static_cast<std::int64_t>(std::filesystem::file_size(kSamples + row.file)));
    EXPECT_TRUE(s.modified);
  }
}

TEST(ForwarderSummary, FilesThatCannotBeReadOrParsed) {
  TempDir dir;
  const ForwarderSummary missing = summarizeForwarderConfig(dir / "missing.json");
  EXPECT_EQ(missing.error, "No such file or directory");
  EXPECT_EQ(missing.sizeBytes, std::nullopt);

  std::ofstream(dir / "broken.json") << "{\"gateway_conf\": {\"gateway_ID\": ";
  const ForwarderSummary broken = summarizeForwarderConfig(dir / "broken.json");
  // The place as every page shows it, the column counted from 1.
  EXPECT_EQ(broken.error, "line 1, column 33: { expected");
  EXPECT_EQ(broken.sizeBytes, 32);
  EXPECT_EQ(broken.gatewayId, std::nullopt);

  // Members of the wrong type, and a document with neither layout.
  std::ofstream(dir / "odd.json")
      << R"({"gateway_conf": {"gateway_ID": 5, "serv_port_up": "1700", "stat_interval": 0}})";
  const ForwarderSummary odd = summarizeForwarderConfig(dir / "odd.json");
  EXPECT_EQ(odd.error, std::nullopt);
  EXPECT_EQ(odd.gatewayId, std::nullopt);
  EXPECT_EQ(odd.serverPortUp, std::nullopt);
  EXPECT_EQ(odd.statInterval, std::nullopt);
  EXPECT_EQ(odd.layout, std::nullopt);
}

TEST(ForwarderSummary, CommentsOutsideStringsOnly) {
  const struct {
    const char* text;
    bool comments;
  } rows[] = {
      {R"({"a": 1 /* dB */})", true},
      {"{\"a\": 1 // dB\n}", true},
      {R"({"server_address": "http://example.net/*x*/"})", false},
      {R"({"a": "say \"/*\" here"})", false},
      {R"({"a": "\\"/* after an escaped backslash */})", true},
      {R"({"a": 1})", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(hasJsonComments(row.text), row.comments) << row.text;
}

}  // namespace
}  // namespace relaydash
