// A systemctl command that hangs, through the whole application: sshd/start and
// forwarder-config/patch stop it at its time limit and say so, and the patch gives its turn back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "json/parser.hpp"
#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::error;
using testing::Reply;

class CommandTimeout : public testing::ManagementApi {
 protected:
  // Read by the server at each command: a limit a test can wait for.
  void SetUp() override {
    ::setenv("RELAYDASH_SYSTEMCTL_TIMEOUT_MS", "300", 1);
    ManagementApi::SetUp();
  }
  void TearDown() override { ::unsetenv("RELAYDASH_SYSTEMCTL_TIMEOUT_MS"); }

  // The audit trail as "action outcome", newest first.
  std::vector<std::string> trail() {
    const Reply reply = guarded("/rpc/audit/list", R"("input":{})");
    EXPECT_EQ(reply.status, 200) << reply.body;
    const JsonNodePtr body = parseJson(reply.body);
    std::vector<std::string> lines;
    for (const JsonNodePtr& e : body->at("output")->at("entries")->array()) {
      if (e->at("action")->getString() == "sign-in") continue;
      lines.push_back(e->at("action")->getString() + " " + e->at("outcome")->getString());
    }
    return lines;
  }
};

TEST_F(CommandTimeout, AHangingSystemctlIsStoppedAndTheAnswerSaysSo) {
  systemctl.answer("start", "hang");
  systemctl.answer("restart", "hang");
  systemctl.answer("stop", "1");
  ::testing::internal::CaptureStdout();
  const Reply sshStart = guarded("/rpc/sshd/start");
  const Reply patch = guarded("/rpc/forwarder-config/patch",
                              R"("input":{"gateway_conf":{"keepalive_interval":12}})");
  const Reply sshStop = guarded("/rpc/sshd/stop");
  const std::string printed = ::testing::internal::GetCapturedStdout();

  const std::string sshMessage = "systemctl start ssh did not finish within 300 ms and was stopped";
  const std::string patchMessage =
      "systemctl restart packet-forwarder did not finish within 300 ms and was stopped; the "
      "configuration file was written";
  EXPECT_EQ(sshStart, (Reply{500, error(10001, sshMessage)}));
  EXPECT_EQ(patch, (Reply{500, error(10001, patchMessage)}));
  // A command that fails in time answers as it always did.
  EXPECT_EQ(sshStop, testing::kUnspecified);
  EXPECT_EQ(printed, sshMessage + "\n" + patchMessage + "\nNon-zero exit code\n");
  EXPECT_NE(readFile(configPath).find("\"keepalive_interval\": 12"), std::string::npos);
  // enable never ran after the start that hung.
  EXPECT_EQ(
      systemctl.calls("systemctl"),
      (std::vector<std::string>{"systemctl [start] [ssh]", "systemctl [restart] [packet-forwarder]",
                                "systemctl [stop] [ssh]"}));

  // The patch gave its turn back: the next one is served.
  systemctl.reset();
  EXPECT_EQ(guarded("/rpc/forwarder-config/patch",
                    R"("input":{"gateway_conf":{"keepalive_interval":13}})"),
            testing::kDone);
  EXPECT_EQ(trail(), (std::vector<std::string>{"config-patch success", "ssh-stop failure",
                                               "config-patch failure", "ssh-start failure"}));
}

}  // namespace
}  // namespace relaydash
