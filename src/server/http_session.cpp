#include "server/http_session.hpp"

#include <charconv>
#include <cstring>

#include "ascii/ascii.hpp"
#include "json/writer.hpp"
#include "runtime/socket.hpp"
#include "transport/status.hpp"

namespace relaydash {
namespace {

using ascii::isUpper;
using ascii::toUpper;

template <typename Out>
void headerCaseInto(Out& out, std::string_view name) {
  if (name.empty()) return;
  out.push_back(toUpper(name[0]));
  bool pendingDash = false;
  for (const char c : name.substr(1)) {
    if (c == '-' || c == '_') {
      if (!pendingDash) out.push_back('-');
      pendingDash = true;
    } else if (isUpper(c)) {
      if (!pendingDash) out.push_back('-');
      pendingDash = false;
      out.push_back(c);
    } else if (pendingDash) {
      out.push_back(toUpper(c));
      pendingDash = false;
    } else {
      out.push_back(c);
    }
  }
}

// Collects an answer's head in a buffer that lives in the writing coroutine's frame; only an
// unusually long head moves to the heap.
class HeadBuffer {
 public:
  void append(std::string_view text) {
    if (spill_.empty() && used_ + text.size() <= sizeof inline_) {
      std::memcpy(inline_ + used_, text.data(), text.size());
      used_ += text.size();
      return;
    }
    if (spill_.empty()) spill_.assign(inline_, used_);
    spill_ += text;
  }
  void push_back(char c) { append(std::string_view(&c, 1)); }
  std::string_view view() const noexcept {
    return spill_.empty() ? std::string_view(inline_, used_) : std::string_view(spill_);
  }

 private:
  char inline_[512];
  std::size_t used_ = 0;
  std::string spill_;
};

void appendHead(HeadBuffer& out, int code, const HttpHeaders* headers, std::size_t length) {
  out.append("HTTP/1.1 ");
  if (const std::string_view text = statusText(code); !text.empty()) {
    out.append(text);
  } else {
    std::string number;
    appendStatusText(number, code);
    out.append(number);
  }
  out.append("\r\n");
  if (headers) {
    for (const auto& [name, values] : *headers) {
      for (const std::string& value : values) {
        headerCaseInto(out, name);
        out.append(": ");
        out.append(value);
        out.append("\r\n");
      }
    }
  }
  out.append("Content-Length: ");
  char digits[24];
  out.append(std::string_view(digits, std::to_chars(digits, digits + sizeof digits, length).ptr));
  out.append("\r\n\r\n");
}

// The head and the body go out in one system call, the body straight from where it lies.
Task<void> writeAnswer(Session& session, int code, std::string_view content, HttpHeaders* headers) {
  HeadBuffer head;
  appendHead(head, code, headers, content.size());
  // HEAD answers carry no body: a keep-alive client would read it as the start of the next
  // answer. The Content-Length still tells what a GET would have carried.
  if (session.request.reqMethod == HttpMethod::HttpHead) content = {};
  const std::string_view bytes = head.view();
  const iovec pieces[] = {{const_cast<char*>(bytes.data()), bytes.size()},
                          {const_cast<char*>(content.data()), content.size()}};
  co_await session.request.client->write(pieces);
}

}  // namespace

void appendHttpHeaderCase(std::string& out, std::string_view name) {
  headerCaseInto(out, name);
}

std::string httpHeaderCase(std::string_view name) {
  std::string out;
  appendHttpHeaderCase(out, name);
  return out;
}

Task<void> respond(Session& session, int code, std::string_view content, HttpHeaders* headers) {
  co_await writeAnswer(session, code, content, headers);
}

Task<void> respond(Session& session, int code, const JsonNode& json, HttpHeaders* headers) {
  HttpHeaders own;
  if (!headers) headers = &own;
  headers->set("Content-Type", "application/json");
  std::string body;
  writeCompact(body, json);
  co_await writeAnswer(session, code, body, headers);
}

Task<void> respond(Session& session, int code, HttpHeaders* headers) {
  std::string text;
  appendStatusText(text, code);
  co_await writeAnswer(session, code, text, headers);
}

Task<void> respond(Session& session, const JsonNode& json, HttpHeaders* headers) {
  co_await respond(session, 200, json, headers);
}

}  // namespace relaydash
