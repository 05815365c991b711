#include "runtime/service_notify.hpp"

#include <gtest/gtest.h>
#include <sys/un.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "runtime/os_error.hpp"
#include "support/notify_socket.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

using testing::NotifyReceiver;
using testing::NotifySocketVariable;

TEST(ServiceNotify, ReachesASocketNamedByPathOrAbstractName) {
  const TempDir folder;
  const NotifyReceiver byPath(folder / "notify");
  {
    const NotifySocketVariable variable(folder / "notify");
    EXPECT_TRUE(notifyServiceManager("READY=1"));
    EXPECT_EQ(byPath.next(), "READY=1");
    notifyReady();
    EXPECT_EQ(byPath.next(), "READY=1");
    EXPECT_EQ(byPath.next(), "(none)");
  }

  // "@name" is the abstract name "\0name", which no file stands for.
  const std::string name = "@relaydash-notify-test-" + std::to_string(::getpid());
  const NotifyReceiver abstract(name);
  const NotifySocketVariable variable(name);
  EXPECT_TRUE(notifyServiceManager("READY=1\nSTATUS=serving"));
  EXPECT_EQ(abstract.next(), "READY=1\nSTATUS=serving");
  EXPECT_EQ(byPath.next(), "(none)");
}

TEST(ServiceNotify, SendsNothingWithoutAServiceManager) {
  const TempDir folder;
  const NotifyReceiver receiver(folder / "notify");
  for (const auto& value : {std::optional<std::string>(), std::optional<std::string>("")}) {
    const NotifySocketVariable variable(value);
    EXPECT_FALSE(notifyServiceManager("READY=1"));
    notifyReady();
  }
  EXPECT_EQ(receiver.next(), "(none)");
}

TEST(ServiceNotify, AFailureIsAnErrorForTheCallerAndOnlyALineForTheServer) {
  const TempDir folder;
  const std::string tooLong = "/" + std::string(sizeof(sockaddr_un{}.sun_path), 'x');
  for (const std::string& value : {folder / "nobody-listens", std::string("relative"), tooLong}) {
    SCOPED_TRACE(value);
    const NotifySocketVariable variable(value);
    EXPECT_THROW(notifyServiceManager("READY=1"), OSError);
    ::testing::internal::CaptureStderr();
    notifyReady();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Could not tell the service manager that relaydash is ready"),
              std::string::npos)
        << said;
  }
}

}  // namespace
}  // namespace relaydash
