#include "gateway/forwarder_config.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>

#include "json/parser.hpp"
#include "json/writer.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/os_error.hpp"
#include "support/read_file.hpp"
#include "support/temp_dir.hpp"

namespace relaydash {
namespace {

namespace fs = std::filesystem;

const std::string kSamples = "tests/data/forwarder/";
const char* const kSampleNames[] = {
    "sx1301-eu868-kersing-mp_pkt_fwd-multiserver.global_conf.json",
    "sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict.global_conf.json",
    "sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json",
    "sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic.global_conf.json",
    "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json",
    "sx1302-sx1250-us915-semtech-sx1302_hal-v2.1.0.global_conf.json",
};

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void patchFile(const std::string& path, const std::string& patch) {
  EventLoop loop;
  loop.blockOn(updateForwarderConfig(path, parseJson(patch)));
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Merge, MembersTheBaseKeepsFirstThenThePatchInItsOrder) {
  const struct {
    const char* base;
    const char* patch;
    const char* merged;
  } rows[] = {
      {R"({"a":1,"b":{"x":1,"y":2},"d":3})", R"({"b":{"y":5}})",
       R"({"a":1,"d":3,"b":{"x":1,"y":5}})"},
      {R"({"a":1,"b":[2]})", "{}", R"({"a":1,"b":[2]})"},
      {R"({"a":[1,2]})", R"({"a":[3]})", R"({"a":[3]})"},
      {R"({"a":1})", R"({"a":null})", R"({"a":null})"},
      {R"({"a":1})", R"({"b":2})", R"({"a":1,"b":2})"},
      {R"({"a":{"x":1}})", R"({"a":5})", R"({"a":5})"},
      {R"({"a":5})", R"({"a":{"x":1}})", R"({"a":{"x":1}})"},
      {"5", R"({"a":1})", R"({"a":1})"},
      {R"({"a":1})", "[1]", "[1]"},
      {"[1,2]", "[3]", "[3]"},
      {"null", "{}", "{}"},
      {R"({"a":1,"b":2,"c":3})", R"({"c":0,"z":true,"a":{}})", R"({"b":2,"c":0,"z":true,"a":{}})"},
      {R"({"g":{"s":{"p":1,"q":2},"t":1}})", R"({"g":{"s":{"q":{"r":1}}}})",
       R"({"g":{"t":1,"s":{"p":1,"q":{"r":1}}}})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.base) + " + " + row.patch);
    const JsonNodePtr base = parseJson(row.base);
    const JsonNodePtr patch = parseJson(row.patch);
    const JsonNodePtr merged = merge(*base, *patch);
    EXPECT_EQ(toCompact(*merged), row.merged);
    EXPECT_EQ(toCompact(*base), toCompact(*parseJson(row.base)));
    EXPECT_EQ(toCompact(*patch), toCompact(*parseJson(row.patch)));
  }
}

TEST(Merge, SharesNoNodeWithItsArguments) {
  const JsonNodePtr base = parseJson(R"({"kept":{"x":[1]},"both":{"y":1}})");
  const JsonNodePtr patch = parseJson(R"({"both":{"z":[2]},"added":{"w":3}})");
  const JsonNodePtr merged = merge(*base, *patch);
  merged->at("kept")->at("x")->add(newJInt(9));
  merged->at("both")->at("z")->add(newJInt(9));
  merged->at("added")->set("w", newJNull());
  EXPECT_EQ(toCompact(*base), R"({"kept":{"x":[1]},"both":{"y":1}})");
  EXPECT_EQ(toCompact(*patch), R"({"both":{"z":[2]},"added":{"w":3}})");
}

// Sets a file's modification time to a minute ago, as a file left alone would have it. Its
// change time, which nothing can set, is now.
void age(const std::string& path) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 60;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Waits (a few seconds at most) until the clock has passed the file's change time by more than
// two seconds.
void waitUntilSettled(const std::string& path) {
  struct stat s {};
  ASSERT_EQ(::stat(path.c_str(), &s), 0);
  while (std::time(nullptr) <= s.st_ctim.tv_sec + 2)
    ::usleep(100'000);
}

// The document of an unchanged file is taken again without parsing; every kind of change is
// seen at the next read, also one that keeps the size and sets the modification time back.
TEST(ForwarderConfig, ReadingAgainSeesEveryChange) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  EventLoop loop;
  const auto read = [&] { return loop.blockOn(getForwarderConfig(path)); };

  writeFile(path, R"({"gateway_conf":{"gateway_ID":"AA"}})");
  // Changed just now: its times could stay the same through another change, so it is read again.
  const JsonNodePtr fresh = read();
  EXPECT_NE(read(), fresh);

  age(path);
  waitUntilSettled(path);
  const JsonNodePtr first = read();
  // The same nodes: nothing was parsed again.
  EXPECT_EQ(read(), first);

  // Written in place, same size, the modification time set back: the change time tells.
  writeFile(path, R"({"gateway_conf":{"gateway_ID":"BB"}})");
  age(path);
  EXPECT_EQ(toCompact(*read()), R"({"gateway_conf":{"gateway_ID":"BB"}})");

  // Replaced by a file renamed over it, with the old times.
  const std::string other = dir.file("new.json");
  writeFile(other, R"({"gateway_conf":{"gateway_ID":"CC"}})");
  age(other);
  fs::rename(other, path);
  EXPECT_EQ(toCompact(*read()), R"({"gateway_conf":{"gateway_ID":"CC"}})");

  // Another file is another file.
  const std::string second = dir.file("second.json");
  writeFile(second, R"({"gateway_conf":{"gateway_ID":"DD"}})");
  age(second);
  EXPECT_EQ(toCompact(*loop.blockOn(getForwarderConfig(second))),
            R"({"gateway_conf":{"gateway_ID":"DD"}})");
}

TEST(ForwarderConfig, RewrittenSamplesArePrettyCommentFreeAndStable) {
  for (const char* name : kSampleNames) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string path = dir.file("global_conf.json");
    const std::string original = readFile(kSamples + name);
    ASSERT_FALSE(original.empty());
    writeFile(path, original);

    EventLoop loop;
    const JsonNodePtr read = loop.blockOn(getForwarderConfig(path));
    loop.blockOn(updateForwarderConfig(path, newJObject()));
    const std::string rewritten = readFile(path);
    EXPECT_EQ(rewritten.find("/*"), std::string::npos);
    EXPECT_EQ(rewritten.find('\t'), std::string::npos);
    EXPECT_EQ(rewritten.substr(0, 4), "{\n  ");
    EXPECT_EQ(rewritten.back(), '}');
    EXPECT_EQ(toCompact(*parseJson(rewritten)), toCompact(*read));
    loop.blockOn(updateForwarderConfig(path, newJObject()));
    EXPECT_EQ(readFile(path), rewritten);
    EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"global_conf.json"});
  }
}

TEST(ForwarderConfig, StrictSampleComesBackAsItsOwnTextReindented) {
  // Without comments, the pretty form is the file itself with each tab as two spaces, the
  // blank line gone and no final newline.
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  const std::string original = readFile(kSamples + kSampleNames[1]);
  writeFile(path, original);
  patchFile(path, "{}");
  std::string expected = std::regex_replace(original, std::regex("\t"), "  ");
  expected = std::regex_replace(expected, std::regex("\n *\n"), "\n");
  expected.pop_back();
  EXPECT_EQ(readFile(path), expected);
}

TEST(ForwarderConfig, NumbersKeepTheirForm) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  writeFile(path,
            "/* gateway */ {\"f\": 5.0, \"tiny\": 1e-7, \"i\": 125, /* radio */\n"
            "\"big\": 123456789012345678901234567890, \"s\": \"a/b\", \"e\": {}, \"l\": []}\n");
  patchFile(path, R"({"e": {"n": -166.0}, "l": [20.41, 2162.56]})");
  EXPECT_EQ(readFile(path),
            "{\n  \"f\": 5.0,\n  \"tiny\": 1e-07,\n  \"i\": 125,\n"
            "  \"big\": 123456789012345678901234567890,\n  \"s\": \"a/b\",\n"
            "  \"e\": {\n    \"n\": -166.0\n  },\n  \"l\": [\n    20.41,\n    2162.56\n  ]\n}");
}

TEST(ForwarderConfig, PatchOfARealSampleMovesTheNamedMembersLast) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  writeFile(path, readFile(kSamples + kSampleNames[4]));
  patchFile(path, R"({"gateway_conf": {"server_address": "eu1.example.net", "serv_port_up": 1700},
                      "SX130x_conf": {"radio_1": {"enable": false}}})");
  const std::string text = readFile(path);
  EXPECT_EQ(text.substr(0, 20), "{\n  \"debug_conf\": {\n");
  EXPECT_NE(text.find("      \"rssi_tcomp\": {\n        \"coeff_a\": 0,\n        \"coeff_b\": 0,\n"
                      "        \"coeff_c\": 20.41,\n        \"coeff_d\": 2162.56,\n"
                      "        \"coeff_e\": 0\n      },\n"),
            std::string::npos);
  EXPECT_NE(text.find("    \"ref_latitude\": 0.0,\n"), std::string::npos);
  EXPECT_NE(text.find("    \"serv_port_down\": 1730,\n"), std::string::npos);
  EXPECT_NE(text.find("    \"server_address\": \"eu1.example.net\",\n"
                      "    \"serv_port_up\": 1700\n  },\n  \"SX130x_conf\": {\n"),
            std::string::npos);
  const JsonNodePtr config = parseJson(text);
  const JsonNodePtr radio = config->at("SX130x_conf")->at("radio_1");
  EXPECT_FALSE(radio->at("enable")->getBool(true));
  EXPECT_EQ(radio->object().begin()->key, "type");
}

TEST(ForwarderConfig, ReplacementKeepsModeAndSymbolicLinks) {
  for (const mode_t mode : {0640, 0604, 0600, 0666}) {
    TempDir dir;
    const std::string path = dir.file("global_conf.json");
    writeFile(path, "{\"a\": 1}");
    ::chmod(path.c_str(), mode);
    struct stat before {};
    ::stat(path.c_str(), &before);
    patchFile(path, R"({"b": 2})");
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(readFile(path), "{\n  \"a\": 1,\n  \"b\": 2\n}");
  }

  TempDir real;
  TempDir links;
  const std::string link = links.file("global_conf.json");
  writeFile(real.file("forwarder.json"), "[1]");
  fs::create_symlink(real.file("forwarder.json"), link);
  patchFile(link, "[2]");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), real.file("forwarder.json"));
  EXPECT_EQ(readFile(real.file("forwarder.json")), "[\n  2\n]");
  EXPECT_EQ(entries(real.file("")), std::vector<std::string>{"forwarder.json"});
  EXPECT_EQ(entries(links.file("")), std::vector<std::string>{"global_conf.json"});
}

TEST(ForwarderConfig, FailuresLeaveTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.file("global_conf.json");
  const auto expectOSError = [](const std::function<void()>& f, int code) {
    try {
      f();
      ADD_FAILURE() << "no error";
    } catch (const OSError& e) {
      EXPECT_EQ(e.errorCode(), code);
      EXPECT_STREQ(e.what(), std::strerror(code));
    }
  };

  expectOSError([&] { patchFile(path, "{}"); }, ENOENT);
  EXPECT_TRUE(entries(dir.file("")).empty());
  expectOSError([&] { patchFile(dir.file(""), "{}"); }, EISDIR);
  EXPECT_THROW(
      {
        EventLoop loop;
        loop.blockOn(getForwarderConfig(path));
      },
      OSError);

  writeFile(path, "{\"a\": 1,");
  EXPECT_THROW(patchFile(path, "{}"), JsonParsingError);
  EXPECT_EQ(readFile(path), "{\"a\": 1,");

  // No double holds 1e999: a file with it is not rewritten as anything else.
  writeFile(path, "{\"a\": 1e999}");
  EXPECT_THROW(patchFile(path, "{}"), JsonParsingError);
  EXPECT_EQ(readFile(path), "{\"a\": 1e999}");

  // A file size limit makes the write of the new text fail, whoever runs the test.
  writeFile(path, "{\"a\": 1}\n");
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit tiny = saved;
  tiny.rlim_cur = 8;
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &tiny);
  expectOSError([&] { patchFile(path, R"({"b": 2})"); }, EFBIG);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(readFile(path), "{\"a\": 1}\n");
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"global_conf.json"});

  if (::geteuid() != 0) {
    ::chmod(dir.file("").c_str(), 0555);
    expectOSError([&] { patchFile(path, R"({"b": 2})"); }, EACCES);
    ::chmod(dir.file("").c_str(), 0755);
    EXPECT_EQ(readFile(path), "{\"a\": 1}\n");
  }
}

}  // namespace
}  // namespace relaydash
