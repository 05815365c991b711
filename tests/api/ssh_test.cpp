#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/management_api.hpp"

namespace relaydash {
namespace {

using testing::kDone;
using testing::kUnspecified;
using testing::Reply;
using ManagementApi = testing::ManagementApi;

TEST_F(ManagementApi, SshdStartsThenEnablesAndStopsThenDisables) {
  const struct {
    const char* path;
    const char* failingVerb;
    const char* status;
    Reply reply;
    std::vector<std::string> calls;
  } rows[] = {
      {"/rpc/sshd/start", "", "", kDone, {"systemctl [start] [ssh]", "systemctl [enable] [ssh]"}},
      {"/rpc/sshd/start", "start", "1", kUnspecified, {"systemctl [start] [ssh]"}},
      {"/rpc/sshd/start",
       "enable",
       "kill",
       kUnspecified,
       {"systemctl [start] [ssh]", "systemctl [enable] [ssh]"}},
      {"/rpc/sshd/stop", "", "", kDone, {"systemctl [stop] [ssh]", "systemctl [disable] [ssh]"}},
      {"/rpc/sshd/stop", "stop", "3", kUnspecified, {"systemctl [stop] [ssh]"}},
      {"/rpc/sshd/stop",
       "disable",
       "1",
       kUnspecified,
       {"systemctl [stop] [ssh]", "systemctl [disable] [ssh]"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.path) + " " + row.failingVerb);
    systemctl.reset();
    if (*row.failingVerb) systemctl.answer(row.failingVerb, row.status);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(guarded(row.path, R"("input":{"unit":"sshd"})"), row.reply);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              row.reply.status == 200 ? "" : "Non-zero exit code\n");
    EXPECT_EQ(systemctl.calls(), row.calls);
  }
}

}  // namespace
}  // namespace relaydash
