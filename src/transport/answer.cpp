#include "transport/answer.hpp"

#include <array>
#include <charconv>

#include "transport/limits.hpp"
#include "transport/status.hpp"

namespace relaydash {
namespace {

void appendLine(std::string& out, std::string_view a, std::string_view b = {}) {
  out.append(a);
  out.append(b);
  out.append("\r\n");
}

struct TransportAnswerRow {
  TransportAnswer answer;
  int code;
  // The body of an error answer (empty: the status text); unused for a bare status.
  std::string_view text;
  bool bare;
};

constexpr std::array kTransportAnswers = {
    TransportAnswerRow{TransportAnswer::BadRequest, 400, {}, false},
    TransportAnswerRow{TransportAnswer::EntityTooLarge, 413, {}, false},
    TransportAnswerRow{TransportAnswer::InvalidContentLength, 400,
                       "Bad Request. Invalid Content-Length.", false},
    TransportAnswerRow{TransportAnswer::ContentLengthMismatch, 400,
                       "Bad Request. Content-Length does not match actual.", false},
    TransportAnswerRow{TransportAnswer::LengthRequired, 411, "Content-Length required.", false},
    TransportAnswerRow{TransportAnswer::HeadRefused, 400, {}, true},
    TransportAnswerRow{TransportAnswer::Continue, 100, {}, true},
    TransportAnswerRow{TransportAnswer::ExpectationFailed, 417, {}, true},
};

constexpr bool rowsInEnumOrder() {
  for (std::size_t i = 0; i < kTransportAnswers.size(); ++i) {
    if (static_cast<std::size_t>(kTransportAnswers[i].answer) != i) return false;
  }
  return true;
}
static_assert(rowsInEnumOrder(), "a transport answer is found by its position");

std::string bytesOf(const TransportAnswerRow& row) {
  std::string out;
  if (row.bare) {
    appendLine(out, "HTTP/1.1 ", statusText(row.code));
    out.append("\r\n");
    return out;
  }
  const std::string_view body = row.text.empty() ? statusText(row.code) : row.text;
  appendAnswerHead(out, row.code, {}, body.size());
  out.append(body);
  return out;
}

}  // namespace

void appendAnswerHead(std::string& out, int code, HeaderFields fields, std::size_t contentLength) {
  out.append("HTTP/1.1 ");
  appendStatusText(out, code);
  out.append("\r\n");
  for (const HeaderField& field : fields) {
    out.append(field.name);
    out.append(": ");
    appendLine(out, field.value);
  }
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, contentLength).ptr;
  appendLine(out,
             "Content-Length: ", std::string_view(digits, static_cast<std::size_t>(end - digits)));
  out.append("\r\n");
}

ConstantAnswer::ConstantAnswer(int code, HeaderFields fields, std::string_view body) : body_(body) {
  appendAnswerHead(bytes_, code, fields, body.size());
  headSize_ = bytes_.size();
  if (body.size() <= limits::kMaxCopiedBody) bytes_.append(body);
}

std::string_view transportAnswerBytes(TransportAnswer answer) noexcept {
  static const auto table = [] {
    std::array<std::string, kTransportAnswers.size()> bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = bytesOf(kTransportAnswers[i]);
    return bytes;
  }();
  return table[static_cast<std::size_t>(answer)];
}

}  // namespace relaydash
