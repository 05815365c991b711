#include "server/http_session.hpp"

#include <array>
#include <charconv>
#include <vector>

#include "ascii/ascii.hpp"
#include "json/writer.hpp"
#include "transport/answer_writer.hpp"
#include "transport/status.hpp"

namespace relaydash {
namespace {

using ascii::isUpper;
using ascii::toUpper;

constexpr std::array kJsonFields = {HeaderField{"Content-Type", "application/json"}};

// HEAD answers carry no body: a keep-alive client would read it as the start of the next
// answer. The Content-Length still tells what a GET would have carried.
bool withBody(const Session& session) noexcept {
  return session.request.reqMethod != HttpMethod::HttpHead;
}

Task<void> writeAnswer(Session& session, int code, HeaderFields fields, std::string_view body) {
  return session.request.writer->write(code, fields, body, withBody(session));
}

// A header map's lines as fields: the names cased once into storage that lives as long as the
// fields.
struct MapFields {
  explicit MapFields(const HttpHeaders& headers) {
    for (const auto& [name, values] : headers)
      names.push_back(httpHeaderCase(name));
    std::size_t i = 0;
    for (const auto& [name, values] : headers) {
      for (const std::string& value : values)
        fields.push_back({names[i], value});
      ++i;
    }
  }
  std::vector<std::string> names;
  std::vector<HeaderField> fields;
};

// The map is the caller's, alive while the caller awaits the answer.
Task<void> respondWithMap(Session& session, int code, std::string body,
                          const HttpHeaders& headers) {
  const MapFields map(headers);
  co_await writeAnswer(session, code, map.fields, body);
}

Task<void> respondWithOwnBody(Session& session, int code, std::string body) {
  co_await writeAnswer(session, code, {}, body);
}

}  // namespace

void appendHttpHeaderCase(std::string& out, std::string_view name) {
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

std::string httpHeaderCase(std::string_view name) {
  std::string out;
  appendHttpHeaderCase(out, name);
  return out;
}

Task<void> respond(Session& session, int code, std::string_view body, HeaderFields fields) {
  return writeAnswer(session, code, fields, body);
}

Task<void> respond(Session& session, const ConstantAnswer& answer) {
  return session.request.writer->write(answer, withBody(session));
}

Task<void> respond(Session& session, int code, const JsonNode& json) {
  std::string body;
  writeCompact(body, json);
  co_await writeAnswer(session, code, kJsonFields, body);
}

Task<void> respond(Session& session, const JsonNode& json) {
  return respond(session, 200, json);
}

Task<void> respond(Session& session, int code) {
  if (const std::string_view text = statusText(code); !text.empty()) {
    return writeAnswer(session, code, {}, text);
  }
  // A code outside the table: its number is its text.
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, code).ptr;
  return respondWithOwnBody(session, code, std::string(digits, end));
}

Task<void> respond(Session& session, int code, std::string_view body, const HttpHeaders& headers) {
  return respondWithMap(session, code, std::string(body), headers);
}

Task<void> respond(Session& session, int code, const JsonNode& json, HttpHeaders& headers) {
  headers.set("Content-Type", "application/json");
  std::string body;
  writeCompact(body, json);
  return respondWithMap(session, code, std::move(body), headers);
}

Task<void> respond(Session& session, const JsonNode& json, HttpHeaders& headers) {
  return respond(session, 200, json, headers);
}

Task<void> respond(Session& session, int code, const HttpHeaders& headers) {
  std::string text;
  appendStatusText(text, code);
  return respondWithMap(session, code, std::move(text), headers);
}

}  // namespace relaydash
