#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// How an answer is written on the wire. Every answer, the transport's own and the framework's,
// is written here: the status line, the header lines, Content-Length, an empty line, the body.
namespace relaydash {

// One header line of an answer, written as it is given: the name already in its wire form
// ("Content-Type"), the value as is.
struct HeaderField {
  std::string_view name;
  std::string_view value;
};
using HeaderFields = std::span<const HeaderField>;

// Appends an answer's head: "HTTP/1.1 " and the code's status text ("404 Not Found", or the bare
// number for a code outside the table), then each field on its line, in order, then
// "Content-Length: " with contentLength, then an empty line. Every line ends with CR LF. No
// Date, Server or Connection line is ever added.
void appendAnswerHead(std::string& out, int code, HeaderFields fields, std::size_t contentLength);

// An answer whose bytes never change (the health check, the redirect, a file of the web
// application, the CORS preflight): its head is written once, when it is made. The body is a
// view: what it views must outlive the answer.
class ConstantAnswer {
 public:
  ConstantAnswer(int code, HeaderFields fields, std::string_view body);

  std::string_view head() const noexcept { return std::string_view(bytes_).substr(0, headSize_); }
  std::string_view body() const noexcept { return body_; }
  // The head followed by the body, when the body is small enough to be kept beside the head
  // (then the whole answer is queued with one copy); else empty.
  std::string_view whole() const noexcept {
    return bytes_.size() > headSize_ || body_.empty() ? std::string_view(bytes_)
                                                      : std::string_view();
  }

 private:
  std::string bytes_;  // the head, then the body when it is small
  std::size_t headSize_ = 0;
  std::string_view body_;
};

// The answers the transport gives itself, to requests it does not hand on. The error answers
// carry their status text as the body; the bare statuses are a status line and an empty line,
// with no Content-Length.
enum class TransportAnswer {
  BadRequest,             // 400, body "400 Bad Request"
  EntityTooLarge,         // 413, body "413 Request Entity Too Large"
  InvalidContentLength,   // 400, body "Bad Request. Invalid Content-Length."
  ContentLengthMismatch,  // 400, body "Bad Request. Content-Length does not match actual."
  LengthRequired,         // 411, body "Content-Length required."
  HeadRefused,            // bare "400 Bad Request"
  Continue,               // bare "100 Continue", before the body of a POST that expects it
  ExpectationFailed,      // bare "417 Expectation Failed"
};

// The bytes of one of the transport's answers, written once.
std::string_view transportAnswerBytes(TransportAnswer answer) noexcept;

}  // namespace relaydash
