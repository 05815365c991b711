#include "server/http_session.hpp"

#include <charconv>

#include "json/writer.hpp"
#include "runtime/socket.hpp"
#include "transport/status.hpp"

namespace relaydash {
namespace {

char upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
bool isUpper(char c) noexcept { return c >= 'A' && c <= 'Z'; }

void appendHead(std::string& out, int code, HttpHeaders* headers, std::size_t length) {
  out += "HTTP/1.1 ";
  appendStatusText(out, code);
  out += "\r\n";
  if (headers) {
    for (const auto& [name, values] : *headers) {
      for (const std::string& value : values) {
        appendHttpHeaderCase(out, name);
        out += ": ";
        out += value;
        out += "\r\n";
      }
    }
  }
  out += "Content-Length: ";
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, length).ptr);
  out += "\r\n\r\n";
}

// The head and the body go out in one system call, the body straight from where it lies.
Task<void> writeAnswer(Session& session, int code, std::string_view content,
                       HttpHeaders* headers) {
  std::string head;
  head.reserve(128);
  appendHead(head, code, headers, content.size());
  // HEAD answers carry no body: a keep-alive client would read it as the start of the next
  // answer. The Content-Length still tells what a GET would have carried.
  if (session.request.reqMethod == HttpMethod::HttpHead) content = {};
  const iovec pieces[] = {{head.data(), head.size()},
                          {const_cast<char*>(content.data()), content.size()}};
  co_await session.request.client->write(pieces);
}

}  // namespace

void appendHttpHeaderCase(std::string& out, std::string_view name) {
  if (name.empty()) return;
  out += upper(name[0]);
  bool pendingDash = false;
  for (const char c : name.substr(1)) {
    if (c == '-' || c == '_') {
      if (!pendingDash) out += '-';
      pendingDash = true;
    } else if (isUpper(c)) {
      if (!pendingDash) out += '-';
      pendingDash = false;
      out += c;
    } else if (pendingDash) {
      out += upper(c);
      pendingDash = false;
    } else {
      out += c;
    }
  }
}

std::string httpHeaderCase(std::string_view name) {
  std::string out;
  appendHttpHeaderCase(out, name);
  return out;
}

Task<void> respond(Session& session, int code, std::string_view content,
                   HttpHeaders* headers) {
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
