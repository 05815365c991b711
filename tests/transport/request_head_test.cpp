#include "transport/request_head.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "support/head_transcript.hpp"

namespace relaydash {
namespace {

using testing::headTranscript;

std::string transcript(std::string_view bytes) {
  return headTranscript(bytes, {});
}

std::string repeated(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

// Each quirk the head parser keeps on purpose, as the connection's bytes show it.
TEST(RequestHead, TheDeliberateQuirks) {
  const std::string longValue(8192 - std::string_view("X-Long: ").size(), 'a');
  struct Case {
    std::string bytes, transcript;
  } cases[] = {
      {"GET /a/b?x=1 HTTP/1.1\r\nAccept: a, b ,c\r\nCookie: x=1, y=2\r\n\r\n",
       "head GET path=/a/b query=x=1 host= version=HTTP/1.1 1.1\n"
       "  accept: [a] [b ] [c]\n  cookie: [x=1, y=2]\nended\n"},
      // Lone LF and lone CR end lines; an LF right after a CR belongs to it.
      {"GET /lf HTTP/1.1\nHost: x\r\r\n",
       "head GET path=/lf query= host= version=HTTP/1.1 1.1\n  host: [x]\nended\n"},
      {"GET /cr HTTP/1.1\rA: 1\r\r",
       "head GET path=/cr query= host= version=HTTP/1.1 1.1\n  a: [1]\nended\n"},
      // One empty line first is skipped; a second is a request line without a method.
      {"\r\nGET /one HTTP/1.1\r\n\r\n",
       "head GET path=/one query= host= version=HTTP/1.1 1.1\nended\n"},
      {"\r\n\r\nGET /two HTTP/1.1\r\n\r\n",
       "bad request line\nhead GET path=/two query= host= version=HTTP/1.1 1.1\nended\n"},
      // Parts at single spaces: case-sensitive methods, the "HTTP/" prefix in any case, any one
      // character between the numbers, no fourth part, not even an empty one.
      {"get / HTTP/1.1\r\nGET /x http/1x7\r\n\r\n",
       "bad request line\nhead GET path=/x query= host= version=http/1x7 1.7\nended\n"},
      {"GET / HTTP/1.1 \r\nGET  / HTTP/1.1\r\nGET / FTP/1.1\r\n",
       "bad request line\nbad request line\nbad request line\nended\n"},
      // Short request lines keep the target and version in force, even from a refused line.
      {"GET /\r\n\r\nPOST /a HTTP/1.0\r\n\r\nPUT /b HTTP/1.1 extra\r\nGET\r\n\r\n",
       "head GET path=/ query= host= version= 0.0\n"
       "head POST path=/a query= host= version=HTTP/1.0 1.0\n"
       "bad request line\n"
       "head GET path=/b query= host= version=HTTP/1.1 1.1\nended\n"},
      // Header lines: no colon is all name; a lone colon stores nothing; the last line of a
      // name wins; values keep trailing white space.
      {"GET / HTTP/1.1\r\nNoColon\r\n:\r\nA: 1, 2\r\na:  3 \r\n\r\n",
       "head GET path=/ query= host= version=HTTP/1.1 1.1\n  nocolon: []\n  a: [3 ]\nended\n"},
      // 8192 characters are a line; 8193 are refused, with or without a line end.
      {"GET / HTTP/1.1\r\nX-Long: " + longValue + "\r\n\r\n",
       "head GET path=/ query= host= version=HTTP/1.1 1.1\n  x-long: [" + longValue + "]\nended\n"},
      {"GET / HTTP/1.1\r\nX-Long: " + longValue + "a\r\n\r\n", "line too long\n"},
      {"GET /" + std::string(9000, 'p'), "line too long\n"},
      // When the stream ends, a last line without its line end is a line.
      {"GET /end HTTP/1.1\r\nHost: x", "ended\n"},
      {"get / HTTP/1.1", "bad request line\nended\n"},
      // Ten thousand names are a head; one more is too many.
      {"GET / HTTP/1.1\r\n" +
           [] {
             std::string lines;
             for (int i = 0; i <= 10000; ++i)
               lines.append("h").append(std::to_string(i)).append(": v\r\n");
             return lines;
           }(),
       "head too large\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(transcript(c.bytes), c.transcript) << c.bytes.substr(0, 200);
  }
}

TEST(RequestHead, AHeadHoldsAtMostOneMebibyteCountingSplitValues) {
  // The request line and header lines hold their characters; each value a comma splits off
  // counts 32 bytes more.
  const std::string requestLine = "GET / HTTP/1.1";
  std::string head = requestLine + "\r\n";
  std::size_t bytes = requestLine.size();
  for (int i = 0; bytes + 8000 <= 1024 * 1024; ++i) {
    // Appended piece by piece: g++ 12 at -O3 takes "h" + to_string(i) for overlapping copies.
    std::string line = "h";
    line += std::to_string(i);
    line += ": ";
    line.append(7990, 'v');
    head += line + "\r\n";
    bytes += line.size();
  }
  const std::string last = "z: " + std::string(1024 * 1024 - bytes - 3, 'v');
  EXPECT_EQ(transcript(head + last + "\r\n\r\n").substr(0, 5), "head ");
  EXPECT_EQ(transcript(head + last + "v\r\n\r\n"), "head too large\n");
  // Two values of one character are 2 + 1 + 32 bytes: lines of commas grow heads fast.
  const std::string commas =
      requestLine + "\r\n" + repeated("c:" + std::string(7000, ',') + "\r\n", 5);
  EXPECT_EQ(transcript(commas + "\r\n"), "head too large\n");
}

// A line end is found wherever it falls in the bytes the parser scans together, ended each of
// the three ways: header values of every length, behind request lines of every alignment.
TEST(RequestHead, FindsLineEndsAtEveryPlace) {
  for (const std::string end : {"\r\n", "\n", "\r"}) {
    for (std::size_t shift = 0; shift < 17; ++shift) {
      const std::string target = "/" + std::string(shift, 'p');
      for (std::size_t length = 0; length <= 40; ++length) {
        const std::string value(length, 'v');
        const std::string bytes = "GET " + target + " HTTP/1.1" + end + "X: " + value + end + end;
        ASSERT_EQ(transcript(bytes), "head GET path=" + target +
                                         " query= host= version=HTTP/1.1 1.1\n  x: [" + value +
                                         "]\nended\n")
            << ::testing::PrintToString(bytes);
      }
    }
  }
}

// A workspace, and its memo, go from connection to connection; each connection keeps its own
// progress. A short request line takes its missing parts from its own connection's last one,
// never from the memo's.
TEST(RequestHead, AMemoServesOnlyAConnectionWithTheSameLineParts) {
  RequestHead head;
  HeadMemo memo;
  HeadProgress first;
  const std::string full = "GET /a?q HTTP/1.1\r\nAccept: x, y\r\n\r\n";
  ASSERT_EQ(readRequestHead(full, false, first, head, memo).status, HeadStatus::Complete);
  // Another connection whose last request line was the same: what the head holds is counted
  // against its limits all the same.
  HeadProgress same = first;
  same.headBytes = 0;
  ASSERT_EQ(readRequestHead(full, false, same, head, memo).used, full.size());
  EXPECT_EQ(same.headBytes, first.headBytes);
  EXPECT_EQ(head.url.query, "q");
  EXPECT_EQ(head.headers.first("accept"), "x");

  const std::string shortLine = "GET\r\n\r\n";
  ASSERT_EQ(readRequestHead(shortLine, false, first, head, memo).status, HeadStatus::Complete);
  EXPECT_EQ(head.url.path, "/a");
  HeadProgress second;
  ASSERT_EQ(readRequestHead(shortLine, false, second, head, memo).status, HeadStatus::Complete);
  EXPECT_EQ(head.url.path, "");
  EXPECT_EQ(head.protocol.major, 0);
  EXPECT_TRUE(head.headers.empty());

  // A whole request line serves any connection, and its parts come into force there.
  const std::string other = "\r\nPUT /b HTTP/1.0\r\n\r\n";
  ASSERT_EQ(readRequestHead(other, false, first, head, memo).status, HeadStatus::Complete);
  HeadProgress third;
  ASSERT_EQ(readRequestHead(other, false, third, head, memo).used, other.size());
  EXPECT_EQ(third.previous.target, "/b");
  EXPECT_EQ(third.previous.version, "HTTP/1.0");
}

// Requests of the transport's wire tests and the committed fuzz corpus.
std::vector<std::string> corpus() {
  std::vector<std::string> requests = {
      "GET /a/b?x=1 HTTP/1.1\r\nHost: h\r\nAccept: a, b ,c\r\nCookie: x=1, y=2\r\n\r\n",
      "GET / HTTP/1.1\r\nConnection: close\r\n\r\nGET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n",
      "GET / HTTP/1.1\r\nConnection: keep-alive, Upgrade\r\n\r\nGET / HTTP/2.0\r\n\r\nGET "
      "/\r\n\r\n",
      "\r\nGET /one HTTP/1.1\r\n\r\n\r\n\r\nGET /two HTTP/1.1\r\n\r\n",
      "GET /three HTTP/1.1\nHost: x\r\r\nGET /four HTTP/1.1\r\rHost: y\n\r\n",
      "get / HTTP/1.1\r\nGET /next HTTP/1.1\r\n\r\nGET / HTTP/1.1 \r\nGET / FTP/1.1\r\n"
      "GET / HTTP/1.1 x y\r\nGET /next HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nX-Long: " + std::string(8184, 'a') + "\r\n\r\n",
      "GET / HTTP/1.1\r\nX-Long: " + std::string(8185, 'a') + "\r\n\r\n",
      "GET /" + std::string(9000, 'p'),
      "POST /p HTTP/1.1\r\nContent-Length: 4096\r\n\r\n" + std::string(4096, 'b'),
      "POST /p HTTP/1.1\r\nContent-Length: 4097\r\n\r\n" + std::string(4097, 'b'),
      "POST /p HTTP/1.1\r\nContent-Length: 12abc\r\n\r\nhello world!POST /p HTTP/1.1\r\n"
      "Content-Length: +5\r\n\r\nhelloPOST /p HTTP/1.1\r\nContent-Length: 1_0\r\n\r\n0123456789",
      "POST /p HTTP/1.1\r\nContent-Length: abc\r\n\r\nPOST /p HTTP/1.1\r\n\r\nPUT /p "
      "HTTP/1.1\r\n\r\n",
      "POST /p HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort",
      "POST /p HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\nok"
      "POST /p HTTP/1.1\r\nExpect: something\r\nContent-Length: 2\r\n\r\nok",
      "POST /lf HTTP/1.1\rContent-Length: 2\r\r\nokGET /after HTTP/1.1\r\n\r\n",
      // Repeated heads, which a connection takes from its memo: the same short request line
      // after another target came into force, heads ending in a lone CR, bodies between them.
      repeated("GET /r HTTP/1.1\r\nHost: h\r\nAccept: a, b\r\n\r\n", 3) +
          repeated("GET\r\n\r\n", 2) + "GET /s HTTP/1.0\r\n\r\n" + repeated("GET\r\n\r\n", 2) +
          repeated("\r\nGET /r HTTP/1.1\r\n\r\n", 2) + repeated("GET /cr HTTP/1.1\r\r", 2) +
          "GET /cr HTTP/1.1\r\r\n\r\nGET /x HTTP/1.1\r\n\r\n" +
          repeated("GET /lf HTTP/1.1\n\n", 2) +
          repeated("POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 3) +
          repeated("POST /p HTTP/1.1\r\nContent-Length: 2\r\r\nab", 2) + "GET /r HTTP/1.1\r\n",
      "GET / HT",
      "GET / HTTP/1.1\r\nHost: x",
      "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc",
      [] {
        std::string burst;
        for (int i = 0; i < 50; ++i)
          burst += "POST /r" + std::to_string(i) + " HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
        return burst;
      }(),
      [] {
        std::string many = "GET / HTTP/1.1\r\n";
        for (int i = 0; i <= 10000; ++i)
          many.append("h").append(std::to_string(i)).append(": v\r\n");
        return many + "\r\n";
      }(),
  };
  for (const auto& entry : std::filesystem::directory_iterator("fuzz/corpus/request")) {
    std::ifstream in(entry.path(), std::ios::binary);
    requests.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return requests;
}

// Where to cut an input in two: everywhere for the small ones. Cutting the large ones (long
// lines, thousands of header lines) everywhere would take minutes; they are cut everywhere near
// their start and end, around some of their line ends (where a CR and its LF may be torn
// apart, or a line end land just past the length limit), and at a stride in between. The
// larger the input, the sparser.
std::vector<std::size_t> cutPositions(std::string_view bytes) {
  const bool huge = bytes.size() > 65536;
  const std::size_t edge = huge ? 64 : 512;
  const std::size_t everyNthLine = huge ? 500 : 20;
  const std::size_t stride = huge ? 4099 : 257;
  std::vector<std::size_t> cuts;
  std::size_t lines = 0;
  std::size_t lastLineEnd = 0;
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    if (bytes[i - 1] == '\n' || (bytes[i - 1] == '\r' && bytes[i] != '\n')) {
      if (++lines % everyNthLine == 0) lastLineEnd = i;
    }
    const bool small = bytes.size() <= 4096;
    const bool nearEdge = i < edge || bytes.size() - i < edge;
    const bool nearLineEnd = lastLineEnd > 0 && i - lastLineEnd < 3;
    if (small || nearEdge || nearLineEnd || i % stride == 0) cuts.push_back(i);
  }
  return cuts;
}

// The memo of the last head stands for its parse: reading with it gives the same heads, however
// the bytes are cut.
TEST(RequestHead, EveryWayOfCuttingTheBytesGivesTheSameHeads) {
  const std::vector<std::string> requests = corpus();
  ASSERT_GT(requests.size(), 20u) << "run from the repository root";
  for (const std::string& bytes : requests) {
    SCOPED_TRACE(bytes.substr(0, 80));
    const std::string whole = transcript(bytes);
    ASSERT_FALSE(whole.empty());
    for (const std::size_t cut : cutPositions(bytes)) {
      const std::size_t cuts[] = {cut};
      ASSERT_EQ(headTranscript(bytes, cuts), whole) << "cut at " << cut;
      HeadMemo memo;
      ASSERT_EQ(headTranscript(bytes, cuts, &memo), whole) << "cut at " << cut << ", with a memo";
    }
    HeadMemo memo;
    EXPECT_EQ(headTranscript(bytes, {}, &memo), whole) << "whole, with a memo";
    std::vector<std::size_t> everyByte(bytes.size() > 0 ? bytes.size() - 1 : 0);
    std::iota(everyByte.begin(), everyByte.end(), std::size_t{1});
    EXPECT_EQ(headTranscript(bytes, everyByte), whole) << "one byte a read";
  }
}

}  // namespace
}  // namespace relaydash
