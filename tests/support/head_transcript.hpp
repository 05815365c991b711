#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "transport/request_head.hpp"
#include "transport/request_parser.hpp"

namespace relaydash::testing {

// What parsing a connection's bytes as heads gives, written out: every outcome in order, and for
// every complete head its method, target parts, version and header lines. The bytes arrive in
// reads that end at the given cut positions (sorted), as a connection would read them; a head's
// body is skipped the way the connection takes it (Content-Length bytes, after the LF of a CR
// LF). Two ways of cutting the same bytes must give the same transcript. With a memo, heads are
// read as a connection reads them, a repeated one taken from the memo.
inline std::string headTranscript(std::string_view bytes, std::span<const std::size_t> cuts,
                                  HeadMemo* memo = nullptr) {
  constexpr long maxBody = 4096;
  HeadProgress progress;
  RequestHead head;
  std::string buffer;  // received and not yet used
  std::size_t received = 0;
  std::size_t nextCut = 0;
  const auto receive = [&] {
    const std::size_t end = nextCut < cuts.size() ? cuts[nextCut++] : bytes.size();
    buffer.append(bytes.substr(received, end - received));
    received = end;
  };
  const auto takeLfAfterCr = [&] {
    if (progress.lfPending && !buffer.empty()) {
      if (buffer.front() == '\n') buffer.erase(0, 1);
      progress.lfPending = false;
    }
  };
  std::string out;
  receive();
  for (;;) {
    const bool atEnd = received == bytes.size();
    const HeadResult result = memo ? readRequestHead(buffer, atEnd, progress, head, *memo)
                                   : parseRequestHead(buffer, atEnd, progress, head);
    buffer.erase(0, result.used);
    switch (result.status) {
      case HeadStatus::Incomplete:
        receive();
        continue;
      case HeadStatus::BadRequestLine:
        out += "bad request line\n";
        continue;
      case HeadStatus::LineTooLong:
        return out + "line too long\n";
      case HeadStatus::TooLarge:
        return out + "head too large\n";
      case HeadStatus::Ended:
        return out + "ended\n";
      case HeadStatus::Complete:
        break;
    }
    out += "head " + std::string(methodName(head.reqMethod)) + " path=" + head.url.path +
           " query=" + head.url.query + " host=" + head.url.hostname +
           " version=" + head.protocol.orig + " " + std::to_string(head.protocol.major) + "." +
           std::to_string(head.protocol.minor) + "\n";
    for (const auto& [name, values] : head.headers) {
      out += "  " + name + ":";
      for (const std::string& value : values)
        out += " [" + value + "]";
      out += "\n";
    }
    const auto* length = head.headers.find("content-length");
    if (!length) continue;
    const auto bodyLength = parseContentLength(length->front());
    if (!bodyLength) continue;
    if (*bodyLength > maxBody) return out + "body too large\n";
    std::size_t left = static_cast<std::size_t>(*bodyLength);
    for (;;) {
      takeLfAfterCr();
      const std::size_t take = std::min(left, buffer.size());
      buffer.erase(0, take);
      left -= take;
      if (left == 0 || received == bytes.size()) break;
      receive();
    }
    out += "body of " + std::to_string(*bodyLength - left) + "\n";
  }
}

}  // namespace relaydash::testing
