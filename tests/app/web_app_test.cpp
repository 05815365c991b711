#include "app/web_app.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "api/context.hpp"
#include "runtime/event_loop.hpp"
#include "support/loopback_client.hpp"
#include "support/server_thread.hpp"

namespace relaydash {
namespace {

using testing::LoopbackClient;
using testing::ServerThread;

constexpr EmbeddedFile kFiles[] = {
    {"manifest.json", "application/json", "{}"},
    {"robots.txt", "text/plain", "User-agent: *"},
    {"index.html", "text/html", "<!doctype html><title>relaydash</title>"},
    {"static/js/main.js", "application/javascript", "export {};"},
    {"static/css/main.css", "text/css", "body{}"},
    {"static/media/logo.png", "image/png", std::string_view("\x89PNG\0\x01", 6)},
};

std::string answer(std::string_view type, std::string_view body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

class StaticFiles : public ::testing::Test {
 protected:
  Context context;
  std::unique_ptr<HttpServer> server = newHttpServer(4096);
  ServerThread thread{[this] {
    mount(*server, "ui", staticFileHandler(kFiles));
    EventLoop::current().spawn(serve(
        *server, [this]() -> Context& { return context; }, 0, "127.0.0.1"));
    return server->server->localPort();
  }};

  std::string ask(const std::string& request) {
    LoopbackClient client(thread.port());
    client.send(request);
    return client.readAnswer();
  }
};

TEST_F(StaticFiles, TheDeepestFileOrIndexAnswers) {
  const std::string index = answer("text/html", kFiles[2].content);
  struct Case {
    std::string path, expected;
  } cases[] = {
      {"/ui", index},
      {"/ui/", index},
      {"/ui/index.html", index},
      {"/ui/favicon.ico", index},
      {"/ui/config", index},
      {"/ui/static/js", index},
      {"/ui/STATIC/js/main.js", index},
      {"/ui/static/js/main.js", answer("application/javascript", "export {};")},
      {"/ui/static/media/logo.png", answer("image/png", kFiles[5].content)},
      {"/ui/robots.txt/extra", answer("text/plain", "User-agent: *")},
      {"/ui//static//css/main.css", answer("text/css", "body{}")},
      {"/ui/static/css/main.css?v=1", answer("text/css", "body{}")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ask("GET " + c.path + " HTTP/1.1\r\n\r\n"), c.expected) << c.path;
  }
}

TEST_F(StaticFiles, MethodsAndHeadersDoNotMatter) {
  const std::string css = answer("text/css", "body{}");
  EXPECT_EQ(ask("POST /ui/static/css/main.css HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), css);
  EXPECT_EQ(ask("DELETE /ui/static/css/main.css HTTP/1.1\r\nIf-None-Match: *\r\n\r\n"), css);
}

TEST(MimeTypes, ByExtension) {
  EXPECT_EQ(mimeTypeFor("a/b.json"), "application/json");
  EXPECT_EQ(mimeTypeFor("index.html"), "text/html");
  EXPECT_EQ(mimeTypeFor("app.js"), "application/javascript");
  EXPECT_EQ(mimeTypeFor("x.jpg"), "image/jpeg");
  EXPECT_EQ(mimeTypeFor("icon.svg"), "image/svg+xml");
  EXPECT_EQ(mimeTypeFor("LICENSE"), "application/octet-stream");
}

// The table the program serves holds every file of the web application's sources and the
// contract the build writes, each under its own path and none empty, with the type a browser
// needs to run it.
TEST(EmbeddedApplication, EveryFileOfTheSourcesIsEmbeddedWithTheTypeABrowserNeeds) {
  std::set<std::string> sources;
  const std::filesystem::path root = "assets/ui";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      sources.insert(std::filesystem::relative(entry.path(), root).generic_string());
  }
  ASSERT_FALSE(sources.empty()) << "run from the source tree's root";
  // Written by the build from the server's tables.
  sources.insert("lib/contract.js");
  std::set<std::string> embedded;
  for (const EmbeddedFile& file : uiFiles) {
    embedded.emplace(file.path);
    EXPECT_FALSE(file.content.empty()) << file.path;
    const std::string_view path = file.path;
    const std::string_view expected = path.ends_with(".js")     ? "application/javascript"
                                      : path.ends_with(".css")  ? "text/css"
                                      : path.ends_with(".html") ? "text/html"
                                      : path.ends_with(".svg")  ? "image/svg+xml"
                                                                : "";
    EXPECT_EQ(file.mimeType, expected) << file.path;
  }
  EXPECT_EQ(embedded, sources);
  EXPECT_TRUE(embedded.contains("index.html"));
}

}  // namespace
}  // namespace relaydash
