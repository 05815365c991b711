#include "transport/workspace.hpp"

#include <gtest/gtest.h>

#include <string>

#include "transport/limits.hpp"

namespace relaydash {
namespace {

// Trimming gives back what a large request made the header map grow; the memo of the head that
// was parsed into that map must go with it, or the next repeat of that head would find the map
// empty.
TEST(Workspace, TrimmingTheHeadersForgetsTheRememberedHead) {
  Workspace w;
  HeadProgress progress;
  std::string large = "GET /large HTTP/1.1\r\n";
  for (int i = 0; large.size() < 2 * limits::kKeptHeaderStorage; ++i)
    large += "X-" + std::to_string(i) + ": " + std::string(64, 'v') + "\r\n";
  large += "\r\n";
  ASSERT_EQ(readRequestHead(large, false, progress, w.request, w.requestMemo).status,
            HeadStatus::Complete);

  const std::string small = "GET /small HTTP/1.1\r\nHost: h\r\n\r\n";
  ASSERT_EQ(readRequestHead(small, false, progress, w.request, w.requestMemo).status,
            HeadStatus::Complete);
  w.trim();
  ASSERT_EQ(readRequestHead(small, false, progress, w.request, w.requestMemo).status,
            HeadStatus::Complete);
  EXPECT_EQ(w.request.url.path, "/small");
  EXPECT_EQ(w.request.headers.first("host"), "h");
}

}  // namespace
}  // namespace relaydash
