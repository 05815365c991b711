// The configuration judged as the forwarder reads it, through the whole application: what its
// parser refuses or reads otherwise, the side files it reads too, and changes made against a
// file that has changed since.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::Reply;

const std::string kSx1301 =
    "tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json";

std::string quoted(const std::string& text) {
  return toCompact(*newJString(text));
}

// `text` with `from` replaced once by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class ForwarderReadingApi : public testing::ManagementApi {
 protected:
  const std::string original = readFile(testing::kSample);

  // Within one sign-in, as the web application sends the pieces of an upload.
  Reply withInput(const std::string& procedure, const std::string& input) {
    if (signedIn.empty()) signedIn = token();
    return call("/rpc/forwarder-config/" + procedure,
                R"({"auth":")" + signedIn + R"(","input":)" + input + "}");
  }
  std::string signedIn;
  JsonNodePtr body(const Reply& reply) { return parseJson(reply.body); }
  JsonNodePtr output(const Reply& reply) {
    EXPECT_EQ(reply.status, 200) << reply.body;
    const JsonNodePtr b = body(reply);
    return b->get("output") ? b->get("output") : newJObject();
  }
  JsonNodePtr errorOf(const Reply& reply) {
    const JsonNodePtr b = body(reply);
    EXPECT_TRUE(b->get("error")) << reply.body;
    return b->get("error") ? b->get("error") : newJObject();
  }
  // A whole file, sent in pieces as the web application sends one larger than a request.
  Reply restoreText(const std::string& text, const std::string& more = "") {
    std::string upload = "null";
    std::int64_t offset = 0;
    for (std::size_t at = 0; at < text.size(); at += 1500) {
      const JsonNodePtr out = output(
          withInput("upload", R"({"upload":)" + upload + R"(,"offset":)" + std::to_string(offset) +
                                  R"(,"text":)" + quoted(text.substr(at, 1500)) + "}"));
      upload = quoted(out->at("upload")->getString());
      offset = out->at("size")->getInt();
    }
    return withInput("restore", R"({"upload":)" + upload + R"(,"settleSeconds":0)" + more + "}");
  }
};

TEST_F(ForwarderReadingApi, AFileTheForwarderCannotReadOrReadsOtherwiseIsNeverWritten) {
  // A "/*" in a "//" comment: the forwarder swallows every member up to the next "*/".
  const std::string withEnd =
      replaced(original, "\"keepalive_interval\": 10,",
               "\"keepalive_interval\": 10, // was 30 /* see below\n        \"stat_interval\": 5,");
  Reply reply = restoreText(withEnd);
  EXPECT_EQ(reply.status, 400) << reply.body;
  JsonNodePtr e = errorOf(reply);
  EXPECT_EQ(e->at("code")->getInt(), 23016);
  ASSERT_GE(e->at("quirks")->size(), 1u) << reply.body;
  EXPECT_GE(e->at("members")->size(), 1u) << reply.body;
  EXPECT_EQ(readFile(configPath), original);

  // A member named twice: the forwarder refuses the whole file, where our parser keeps the last.
  reply = restoreText(
      replaced(original, "\"gateway_ID\"", "\"server_address\": \"x\", \"gateway_ID\""));
  EXPECT_EQ(reply.status, 400) << reply.body;
  e = errorOf(reply);
  EXPECT_EQ(e->at("code")->getInt(), 23015);
  EXPECT_GT(e->at("refusal")->at("line")->getInt(), 1);
  EXPECT_EQ(readFile(configPath), original);

  // A patch can nest deeper than the forwarder reads.
  std::string deep = "1";
  for (int i = 0; i < 20; ++i)
    deep = "[" + deep + "]";
  reply = withInput("apply", R"({"patch":{"gateway_conf":{"deep":)" + deep + "}}}");
  EXPECT_EQ(errorOf(reply)->at("code")->getInt(), 23015) << reply.body;
  EXPECT_EQ(readFile(configPath), original);

  // The text procedure says the same of a file already on the gateway.
  std::ofstream(configPath, std::ios::binary) << withEnd;
  const JsonNodePtr text = output(withInput("text", "{}"));
  EXPECT_TRUE(text->at("parses")->getBool());
  const JsonNodePtr forwarder = text->at("forwarder");
  EXPECT_TRUE(forwarder->at("reads")->getBool());
  EXPECT_GE(forwarder->at("quirks")->size(), 1u);
  EXPECT_GE(forwarder->at("misread")->size(), 1u);
  const JsonNodePtr status = output(guarded("/rpc/gateway/status"));
  EXPECT_GE(status->at("forwarderConfig")->at("forwarder")->at("misread")->size(), 1u);
}

TEST_F(ForwarderReadingApi, TextAfterTheDocumentIsReadAsTheForwarderReadsIt) {
  const std::string tailed = original + "\n} left over from an edit";
  std::ofstream(configPath, std::ios::binary) << tailed;
  // forwarder-config/get and /patch read what the forwarder reads instead of failing.
  const JsonNodePtr document = output(guarded("/rpc/forwarder-config/get"));
  EXPECT_EQ(toCompact(*document), toCompact(*parseJson(original)));
  const JsonNodePtr text = output(withInput("text", "{}"));
  EXPECT_FALSE(text->at("parses")->getBool(true));
  EXPECT_TRUE(text->at("forwarder")->at("reads")->getBool());
  EXPECT_FALSE(text->at("forwarder")->at("ignoredTail")->isNull());
  const JsonNodePtr status = output(guarded("/rpc/gateway/status"));
  EXPECT_TRUE(status->at("forwarderConfig")->at("error")->isNull());
  EXPECT_EQ(status->at("forwarderConfig")->at("gatewayId")->getString(), "AA555A0000000000");

  // An apply merges into it (written anew: the layout cannot be kept) and says so.
  const JsonNodePtr applied = output(
      withInput("apply", R"({"patch":{"gateway_conf":{"stat_interval":60}},"settleSeconds":0})"));
  EXPECT_FALSE(applied->at("keptLayout")->getBool(true));
  EXPECT_EQ(parseJson(readFile(configPath))->at("gateway_conf")->at("stat_interval")->getInt(), 60);

  // A whole new file with a tail is written as it is, with a notice.
  const JsonNodePtr restored = output(restoreText(tailed));
  ASSERT_TRUE(restored->get("notice")) << toCompact(*restored);
  EXPECT_NE(restored->at("notice")->getString().find("ignores the text"), std::string::npos);
  EXPECT_EQ(readFile(configPath), tailed);
  EXPECT_EQ(
      guarded("/rpc/forwarder-config/patch", R"("input":{"gateway_conf":{"stat_interval":30}})"),
      testing::kDone);
}

TEST_F(ForwarderReadingApi, AChangeMadeAgainstAnOlderFileIsRefusedAndNothingIsLost) {
  const std::string hash = output(withInput("text", "{}"))->at("hash")->getString();
  // Someone else changes the file.
  ASSERT_EQ(
      guarded("/rpc/forwarder-config/patch", R"("input":{"gateway_conf":{"stat_interval":45}})"),
      testing::kDone);
  const std::string theirs = readFile(configPath);
  // A page that read the file before applies its raw text: refused, the other change stays.
  Reply reply = restoreText(original, R"(,"base":)" + quoted(hash));
  EXPECT_EQ(reply.status, 409) << reply.body;
  JsonNodePtr e = errorOf(reply);
  EXPECT_EQ(e->at("code")->getInt(), 24005);
  const std::string current = output(withInput("text", "{}"))->at("hash")->getString();
  EXPECT_EQ(e->at("hash")->getString(), current);
  EXPECT_NE(current, hash);
  reply = withInput("apply", R"({"patch":{"gateway_conf":{"keepalive_interval":9}},"base":)" +
                                 quoted(hash) + "}");
  EXPECT_EQ(errorOf(reply)->at("code")->getInt(), 24005);
  EXPECT_EQ(readFile(configPath), theirs);
  // Made against the file as it is now, it goes through; without a base, as scripts call it, too.
  EXPECT_EQ(
      withInput("apply",
                R"({"patch":{"gateway_conf":{"keepalive_interval":9}},"settleSeconds":0,"base":)" +
                    quoted(current) + "}")
          .status,
      200);
  EXPECT_EQ(
      withInput("apply", R"({"patch":{"gateway_conf":{"keepalive_interval":8}},"settleSeconds":0})")
          .status,
      200);
  EXPECT_EQ(withInput("apply", R"({"patch":{},"base":5})").status, 400);
}

TEST_F(ForwarderReadingApi, LocalConfBesideAnSx1301FileWinsAndChangesThereAreRefused) {
  std::ofstream(configPath, std::ios::binary) << readFile(kSx1301);
  std::ofstream(dir.file("local_conf.json"), std::ios::binary)
      << "/* the board's own */\n{\"gateway_conf\": {\"gateway_ID\": \"B827EBFFFE000001\"}}\n";
  const JsonNodePtr text = output(withInput("text", "{}"));
  const JsonNodePtr overrides = text->at("sideFiles")->at("overrides");
  ASSERT_EQ(overrides->size(), 1u) << toCompact(*text->at("sideFiles"));
  EXPECT_EQ(
      toCompact(*overrides->array()[0]),
      R"({"path":"gateway_conf.gateway_ID","file":"local_conf.json","value":"B827EBFFFE000001"})");
  EXPECT_EQ(
      output(guarded("/rpc/gateway/status"))->at("forwarderConfig")->at("gatewayId")->getString(),
      "B827EBFFFE000001");

  const std::string before = readFile(configPath);
  Reply reply =
      withInput("apply", R"({"patch":{"gateway_conf":{"gateway_ID":"AA555A00000000FF"}}})");
  EXPECT_EQ(reply.status, 400) << reply.body;
  JsonNodePtr e = errorOf(reply);
  EXPECT_EQ(e->at("code")->getInt(), 23017);
  EXPECT_NE(e->at("message")->getString().find("local_conf.json"), std::string::npos);
  EXPECT_EQ(toCompact(*e->at("overrides")),
            R"([{"path":"gateway_conf.gateway_ID","file":"local_conf.json"}])");
  EXPECT_EQ(readFile(configPath), before);
  // Members it does not set change as ever; a version from the history is put back with a note.
  const JsonNodePtr applied = output(withInput(
      "apply",
      R"({"patch":{"gateway_conf":{"server_address":"eu1.example.net"}},"settleSeconds":0})"));
  std::ofstream(configPath, std::ios::binary)
      << replaced(before, "AA555A0000000000", "AA555A00000000FF");
  const JsonNodePtr restored = output(
      withInput("restore", R"({"version":)" + std::to_string(applied->at("version")->getInt()) +
                               R"(,"settleSeconds":0})"));
  ASSERT_TRUE(restored->get("notice"));
  EXPECT_NE(restored->at("notice")->getString().find("local_conf.json"), std::string::npos);
  EXPECT_EQ(readFile(configPath), before);
}

}  // namespace
}  // namespace relaydash
