// Frequency plans through the whole application: listed with the one the file implements, set in
// place of a patch, refused when the radios cannot receive them, and the band kept by every
// apply unless the operator confirms.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "json/parser.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::Reply;

const std::string kUs915 =
    "tests/data/forwarder/sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0.global_conf.json";
const std::string kSx1301Eu868 =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";

class PlansApi : public testing::ManagementApi {
 protected:
  void use(const std::string& sample) {
    std::ofstream(configPath, std::ios::binary | std::ios::trunc) << readFile(sample);
  }
  Reply apply(const std::string& input) {
    return guarded("/rpc/forwarder-config/apply", R"("input":)" + input);
  }
  JsonNodePtr current() {
    const Reply reply = guarded("/rpc/forwarder-config/plans");
    EXPECT_EQ(reply.status, 200) << reply.body;
    return parseJson(reply.body)->at("output")->at("current");
  }
  static std::int64_t codeOf(const Reply& reply) {
    return parseJson(reply.body)->at("error")->at("code")->getInt();
  }
};

TEST_F(PlansApi, EveryPlanIsListedWithTheOneTheFileImplements) {
  const Reply reply = guarded("/rpc/forwarder-config/plans");
  ASSERT_EQ(reply.status, 200) << reply.body;
  const JsonNodePtr output = parseJson(reply.body)->at("output");
  const JsonNodePtr plans = output->at("plans");
  ASSERT_EQ(plans->size(), 36u);  // 1 + 8 + 8 + 4 + 1 + 1 + 1 + 12
  const JsonNodePtr eu = plans->array()[0];
  EXPECT_EQ(eu->at("name")->getString(), "EU868");
  EXPECT_TRUE(eu->at("subBand")->isNull());
  EXPECT_EQ(eu->at("band")->at("min")->getInt(), 863000000);
  EXPECT_EQ(eu->at("channels")->size(), 10u);
  EXPECT_EQ(eu->at("channels")->array()[8]->at("kind")->getString(), "loraStd");
  EXPECT_EQ(eu->at("channels")->array()[9]->at("datarate")->getInt(), 50000);
  EXPECT_EQ(output->at("current")->at("name")->getString(), "EU868");
  EXPECT_TRUE(output->at("current")->at("exact")->getBool());

  // A file that does not parse implements nothing that can be told.
  std::ofstream(configPath, std::ios::binary | std::ios::trunc) << "{\"SX130x_conf\": {";
  EXPECT_TRUE(current()->isNull());
}

TEST_F(PlansApi, APlanIsAppliedInPlaceOfAPatchKeepingTheRestOfTheFile) {
  use(kUs915);
  EXPECT_EQ(current()->at("name")->getString(), "US915 sub-band 2");
  // What a plan would change, for review: nothing for the plan the file has.
  const auto preview = [this](const std::string& plan) {
    const Reply reply = guarded("/rpc/forwarder-config/plans", R"("input":{"plan":)" + plan + "}");
    EXPECT_EQ(reply.status, 200) << reply.body;
    return parseJson(reply.body)->at("output")->at("patch");
  };
  EXPECT_EQ(preview(R"({"region":"US915","subBand":2})")->size(), 0u);
  const JsonNodePtr moves = preview(R"({"region":"US915","subBand":1})")->at("SX130x_conf");
  EXPECT_EQ(moves->at("radio_0")->at("freq")->getInt(), 902700000);
  const Reply reply = apply(R"({"plan":{"region":"US915","subBand":1},"settleSeconds":0})");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(current()->at("name")->getString(), "US915 sub-band 1");
  const std::string file = readFile(configPath);
  EXPECT_NE(file.find("\"antenna_gain\": 0, /* antenna gain, in dBi */"), std::string::npos);
  // Asked again, nothing moves: the file already receives it.
  EXPECT_EQ(apply(R"({"plan":{"region":"US915","subBand":1},"settleSeconds":0})").status, 200);
  EXPECT_EQ(readFile(configPath).size(), file.size());

  // Radios that cannot tune the plan: refused with the reason, nothing written.
  use(kSx1301Eu868);
  const Reply refused = apply(R"({"plan":{"region":"CN470","subBand":1}})");
  EXPECT_EQ(refused.status, 400) << refused.body;
  EXPECT_EQ(codeOf(refused), 23018);
  EXPECT_NE(refused.body.find("SX1257"), std::string::npos) << refused.body;
  EXPECT_EQ(readFile(configPath), readFile(kSx1301Eu868));
}

TEST_F(PlansApi, ChangesKeepToTheBandUnlessConfirmed) {
  const std::string out = R"({"patch":{"SX130x_conf":{"radio_0":{"freq":959500000}}})";
  const Reply refused = apply(out + R"(,"settleSeconds":0})");
  EXPECT_EQ(refused.status, 400) << refused.body;
  EXPECT_EQ(codeOf(refused), 23019);
  const JsonNodePtr problems = parseJson(refused.body)->at("error")->at("problems");
  ASSERT_GE(problems->size(), 1u) << refused.body;
  EXPECT_NE(refused.body.find("outside EU868's 863\u2013870 MHz"), std::string::npos)
      << refused.body;
  EXPECT_EQ(readFile(configPath), readFile(testing::kSample));

  const Reply confirmed = apply(out + R"(,"settleSeconds":0,"outOfBand":true})");
  EXPECT_EQ(confirmed.status, 200) << confirmed.body;
  EXPECT_NE(readFile(configPath).find("959500000"), std::string::npos);
  EXPECT_EQ(current()->at("name")->getString(), "custom");
}

TEST_F(PlansApi, PlansAskedForWronglyAreRefused) {
  const auto code = [this](const std::string& input) { return codeOf(apply(input)); };
  EXPECT_EQ(code(R"({"plan":{"region":"EU999"}})"), 22010);
  EXPECT_EQ(code(R"({"plan":{"region":"US915","subBand":9}})"), 22010);
  EXPECT_EQ(code(R"({"plan":{"region":"US915"}})"), 22010);
  EXPECT_EQ(code(R"({"plan":{"region":"US915","subBand":-1}})"), 22010);
  EXPECT_EQ(code(R"({"plan":"US915"})"), 23001);
  EXPECT_EQ(code(R"({"plan":{"region":915}})"), 23001);
  EXPECT_EQ(code(R"({"plan":{"region":"US915","subBand":"2"}})"), 23001);
  EXPECT_EQ(code(R"({"plan":{}})"), 21031);
  EXPECT_EQ(code(R"({"plan":{"region":"EU868","band":1}})"), 22007);
  EXPECT_EQ(code(R"({"plan":{"region":"EU868"},"patch":{}})"), 23000);
  EXPECT_EQ(code(R"({"patch":{},"outOfBand":"yes"})"), 23001);
  EXPECT_EQ(readFile(configPath), readFile(testing::kSample));
}

}  // namespace
}  // namespace relaydash
