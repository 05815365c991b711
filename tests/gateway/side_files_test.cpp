#include "gateway/side_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

// packet_forwarder 4.x reads local_conf.json after global_conf.json from its working folder; a
// member of its gateway_conf or SX1301_conf takes the place of the main file's, a radio or a
// channel as a whole. With debug_conf.json there, it reads that file alone.
const char* kGlobal = R"({
  "SX1301_conf": {"lorawan_public": true,
                  "radio_0": {"enable": true, "type": "SX1257", "freq": 867500000},
                  "radio_1": {"enable": true, "type": "SX1257", "freq": 868500000}},
  "gateway_conf": {"gateway_ID": "AA555A0000000000", "server_address": "localhost",
                   "serv_port_up": 1700, "serv_port_down": 1700}
})";

class SideFilesTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string config = dir.file("global_conf.json");
  const JsonNodePtr global = parseJson(kGlobal);

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
  }
  JsonNodePtr changed(const std::string& patchText) const {
    // A merge by hand: the tests change one member at a time.
    JsonNodePtr doc = copy(*global);
    const JsonNodePtr patch = parseJson(patchText);
    for (const JsonMember& section : patch->object()) {
      for (const JsonMember& member : section.value->object())
        doc->get(section.key)->set(member.key, copy(*member.value));
    }
    return doc;
  }
};

TEST_F(SideFilesTest, NoSideFilesChangeNothing) {
  const SideFiles side = readSideFiles(config, *global);
  EXPECT_FALSE(side.readInstead);
  EXPECT_TRUE(side.overrides.empty());
  EXPECT_TRUE(side.notes.empty());
  EXPECT_EQ(toCompact(*effectiveDocument(*global, side)), toCompact(*global));
  EXPECT_TRUE(overridesTouched(
                  *global, *changed(R"({"gateway_conf":{"gateway_ID":"AA555A00000000FF"}})"), side)
                  .empty());
}

TEST_F(SideFilesTest, LocalConfWinsMemberByMemberAndRadiosWhole) {
  write("local_conf.json", R"({
    /* Semtech's own local_conf.json: the board's ID */
    "gateway_conf": {"gateway_ID": "B827EBFFFE000001"},
    "SX1301_conf": {"radio_1": {"enable": true, "type": "SX1257", "freq": 869000000}}
  })");
  const SideFiles side = readSideFiles(config, *global);
  ASSERT_EQ(side.overrides.size(), 2u);
  EXPECT_EQ(side.overrides[0].path, "gateway_conf.gateway_ID");
  EXPECT_EQ(side.overrides[0].file, "local_conf.json");
  EXPECT_EQ(side.overrides[1].path, "SX1301_conf.radio_1");

  const JsonNodePtr effective = effectiveDocument(*global, side);
  EXPECT_EQ(effective->get("gateway_conf")->get("gateway_ID")->getString(), "B827EBFFFE000001");
  EXPECT_EQ(effective->get("gateway_conf")->get("server_address")->getString(), "localhost");
  EXPECT_EQ(toCompact(*effective->get("SX1301_conf")->get("radio_1")),
            R"({"enable":true,"type":"SX1257","freq":869000000})");
  // The main document is not touched.
  EXPECT_EQ(global->get("gateway_conf")->get("gateway_ID")->getString(), "AA555A0000000000");

  // A change of an overridden member, or of anything inside an overridden radio, has no effect.
  const auto touched = overridesTouched(
      *global, *changed(R"({"gateway_conf":{"gateway_ID":"AA555A00000000FF"}})"), side);
  ASSERT_EQ(touched.size(), 1u);
  EXPECT_EQ(touched[0].path, "gateway_conf.gateway_ID");
  EXPECT_NE(describeOverrides(touched).find("gateway_conf.gateway_ID is set in local_conf.json"),
            std::string::npos);
  EXPECT_EQ(
      overridesTouched(
          *global,
          *changed(
              R"({"SX1301_conf":{"radio_1":{"enable":true,"type":"SX1257","freq":868000000}}})"),
          side)
          .size(),
      1u);
  // Members it does not set change as ever.
  EXPECT_TRUE(overridesTouched(*global,
                               *changed(R"({"gateway_conf":{"server_address":"eu1.example.net"}})"),
                               side)
                  .empty());
}

TEST_F(SideFilesTest, DebugConfIsReadAlone) {
  write("local_conf.json", R"({"gateway_conf": {"gateway_ID": "B827EBFFFE000001"}})");
  write("debug_conf.json",
        R"({"SX1301_conf": {}, "gateway_conf": {"gateway_ID": "0000000000000001"}})");
  const SideFiles side = readSideFiles(config, *global);
  ASSERT_TRUE(side.readInstead);
  EXPECT_EQ(*side.readInstead, "debug_conf.json");
  EXPECT_EQ(effectiveDocument(*global, side)->get("gateway_conf")->get("gateway_ID")->getString(),
            "0000000000000001");
  const auto touched = overridesTouched(
      *global, *changed(R"({"gateway_conf":{"server_address":"eu1.example.net"}})"), side);
  ASSERT_EQ(touched.size(), 1u);
  EXPECT_EQ(touched[0].path, "");
  EXPECT_NE(describeOverrides(touched).find("reads debug_conf.json"), std::string::npos);
}

TEST_F(SideFilesTest, OnlyTheSx1301GenerationReadsSideFilesAndBrokenOnesAreNoted) {
  write("local_conf.json", R"({"gateway_conf": {"gateway_ID": "B827EBFFFE000001",}})");
  // The SX1302 forwarder reads its one file.
  EXPECT_TRUE(
      readSideFiles(config, *parseJson(R"({"SX130x_conf":{},"gateway_conf":{}})")).notes.empty());
  // The SX1301 one cannot read a trailing comma: nothing is taken from the file, and it is said.
  const SideFiles side = readSideFiles(config, *global);
  EXPECT_TRUE(side.overrides.empty());
  ASSERT_EQ(side.notes.size(), 1u);
  EXPECT_NE(side.notes[0].find("local_conf.json"), std::string::npos);
  EXPECT_NE(side.notes[0].find("cannot read"), std::string::npos);
}

TEST_F(SideFilesTest, AnUnreadableSideFileIsNotedNotRaised) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  write("local_conf.json", R"({"gateway_conf": {}})");
  ::chmod(dir.file("local_conf.json").c_str(), 0);
  const SideFiles side = readSideFiles(config, *global);
  ASSERT_EQ(side.notes.size(), 1u);
  EXPECT_NE(side.notes[0].find("Permission denied"), std::string::npos);
}

}  // namespace
}  // namespace relaydash
