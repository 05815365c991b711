#include "gateway/config_rules.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/read_file.hpp"

namespace relaydash {

// How a failing comparison shows a problem.
void PrintTo(const ConfigProblem& p, std::ostream* out) {
  *out << "{" << p.path << ": " << p.message << "}";
}

namespace {

// The cases the web application is tested against too: the same problems in the same order.
TEST(ConfigRules, TheSharedCases) {
  const JsonNodePtr cases = parseJson(readFile("tests/data/config-rules.json"))->at("cases");
  ASSERT_GT(cases->size(), 10u);
  for (const JsonNodePtr& c : cases->array()) {
    SCOPED_TRACE(c->at("name")->getString());
    std::vector<ConfigProblem> expected;
    for (const JsonNodePtr& p : c->at("problems")->array())
      expected.push_back({p->at("path")->getString(), p->at("message")->getString()});
    EXPECT_EQ(checkForwarderConfig(*c->at("document")), expected);
  }
}

TEST(ConfigRules, EveryVendorSampleIsFine) {
  // basic_pkt_fwd's file predates radio types; lora_pkt_fwd crashes on its radio without one.
  EXPECT_EQ(checkForwarderConfig(*parseJson(
                readFile("tests/data/forwarder/"
                         "sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict.global_conf.json"))),
            (std::vector<ConfigProblem>{{"SX1301_conf.radio_0.type",
                                         "must be the radio's type as a text: the forwarder "
                                         "crashes (SIGSEGV) on an enabled radio without one"}}));
  for (const char* name :
       {"sx1301-eu868-kersing-mp_pkt_fwd-multiserver", "sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1",
        "sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic",
        "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0",
        "sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0"}) {
    SCOPED_TRACE(name);
    const std::string text =
        readFile(std::string("tests/data/forwarder/") + name + ".global_conf.json");
    EXPECT_EQ(checkForwarderConfig(*parseJson(text)), std::vector<ConfigProblem>{});
  }
}

}  // namespace
}  // namespace relaydash
