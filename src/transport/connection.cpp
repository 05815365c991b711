#include "transport/connection.hpp"

#include <charconv>
#include <cstdio>
#include <exception>

#include "ascii/ascii.hpp"
#include "transport/connection_registry.hpp"
#include "transport/limits.hpp"
#include "transport/line_reader.hpp"
#include "transport/request_parser.hpp"
#include "transport/status.hpp"

namespace relaydash {
namespace {

// After a request: go on with the next, close, or refuse the head (the bare 400, then close).
enum class Next { Continue, Close, Refuse };

// What one connection keeps from request to request.
struct Connection {
  Connection(Socket& socket, ConnectionRegistry& registry, const RequestCallback& onRequest,
             long bodyLimit)
      : client(socket),
        reader(socket),
        tracked(registry, socket),
        callback(onRequest),
        maxBody(bodyLimit) {}

  Socket& client;
  LineReader reader;
  Request request;
  TrackedConnection tracked;
  const RequestCallback& callback;
  long maxBody;
};

void appendNumber(std::string& out, std::size_t n) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// "HTTP/1.1 <status>", Content-Length and the text as body.
Task<void> sendText(Socket& client, int code, std::string_view text) {
  std::string answer = "HTTP/1.1 ";
  appendStatusText(answer, code);
  answer += "\r\nContent-Length: ";
  appendNumber(answer, text.size());
  answer += "\r\n\r\n";
  answer += text;
  co_await client.write(answer);
}

// The error answer: the status text is also the body.
Task<void> sendError(Socket& client, int code) {
  co_await sendText(client, code, statusText(code));
}

// A status line and an empty line, nothing else.
Task<void> sendBareStatus(Socket& client, std::string_view status) {
  std::string answer = "HTTP/1.1 ";
  answer += status;
  answer += "\r\n\r\n";
  co_await client.write(answer);
}

// After the callback: keep the connection for another request?
bool keepAlive(const Request& request) {
  const std::string_view connection = request.headers.first("connection");
  const Protocol& p = request.protocol;
  if (p.major == 1 && p.minor == 1) return !ascii::equalsIgnoreCase(connection, "close");
  if (p.major == 1 && p.minor == 0) return ascii::equalsIgnoreCase(connection, "keep-alive");
  return false;
}

// What a header line holds beyond its characters: every value split off at a comma is a string
// of its own.
std::size_t headerLineBytes(std::string_view line, std::size_t values) {
  return line.size() + (values > 1 ? (values - 1) * limits::kBytesPerExtraValue : 0);
}

// Reads one request and hands it to the callback. Returns whether the connection goes on.
Task<Next> processRequest(Connection& c) {
  LineReader& reader = c.reader;
  Socket& client = c.client;
  Request& request = c.request;
  request.headers.clear();
  request.body.clear();

  // The connection stays idle until the first bytes of the request are there.
  if (reader.buffered() == 0 && !co_await reader.fill()) co_return Next::Close;
  c.tracked.enter(ConnectionState::Head);

  Line line = co_await reader.readLine();
  // One empty line before a request is tolerated; a second one is taken as the request line.
  if (line.kind == Line::Kind::Empty) {
    line = co_await reader.readLine();
    if (line.kind == Line::Kind::Empty) line.text = "\r\n";
  }
  if (line.kind == Line::Kind::End) co_return Next::Close;
  if (line.kind == Line::Kind::TooLong) {
    c.tracked.enter(ConnectionState::Busy);
    co_await sendError(client, 413);
    co_return Next::Close;
  }
  if (parseRequestLine(line.text, request) != RequestLineStatus::Ok) {
    c.tracked.enter(ConnectionState::Busy);
    co_await sendError(client, 400);
    co_return Next::Continue;
  }
  if (!c.tracked.chargeHead(line.text.size())) co_return Next::Refuse;

  for (;;) {
    line = co_await reader.readLine();
    if (line.kind == Line::Kind::End) co_return Next::Close;
    if (line.kind == Line::Kind::TooLong) {
      c.tracked.enter(ConnectionState::Busy);
      co_await sendError(client, 413);
      co_return Next::Close;
    }
    if (line.kind == Line::Kind::Empty) break;
    const std::size_t values = parseHeaderLine(line.text, request.headers);
    if (request.headers.size() > limits::kMaxHeaderNames ||
        !c.tracked.chargeHead(headerLineBytes(line.text, values))) {
      co_return Next::Refuse;
    }
  }
  c.tracked.enter(ConnectionState::Busy);

  const bool isPost = request.reqMethod == HttpMethod::HttpPost;
  if (isPost && request.headers.hasKey("expect")) {
    co_await sendBareStatus(client, request.headers.hasValue("expect", "100-continue")
                                        ? "100 Continue"
                                        : "417 Expectation Failed");
  }

  if (request.headers.hasKey("content-length")) {
    const auto length = parseContentLength(request.headers.first("content-length"));
    if (!length) {
      co_await sendText(client, 400, "Bad Request. Invalid Content-Length.");
      co_return Next::Continue;
    }
    if (*length > c.maxBody) {
      co_await sendError(client, 413);
      co_return Next::Close;
    }
    const auto expected = static_cast<std::size_t>(*length);
    co_await reader.readBody(request.body, expected);
    if (request.body.size() != expected) {
      co_await sendText(client, 400, "Bad Request. Content-Length does not match actual.");
      co_return Next::Continue;
    }
  } else if (isPost) {
    co_await sendText(client, 411, "Content-Length required.");
    co_return Next::Continue;
  }

  co_await c.callback(request);

  // A connection asking for an upgrade is not read again; no handler here takes it over, so
  // it is closed rather than left open forever.
  if (request.headers.hasValue("connection", "upgrade")) co_return Next::Close;
  co_return keepAlive(request) ? Next::Continue : Next::Close;
}

// A large request leaves nothing behind: what the connection keeps is what it needs to read
// ordinary requests without allocating.
void giveBackLargeStorage(Connection& c) {
  if (c.request.headers.storageBytes() > limits::kKeptHeaderStorage)
    c.request.headers.releaseStorage();
  c.reader.shrink();
}

}  // namespace

Task<void> serveConnection(Socket& client, std::string peer, const RequestCallback& callback,
                           long maxBody, ConnectionRegistry& registry) {
  Connection c(client, registry, callback, maxBody);
  c.request.client = &client;
  c.request.hostname = std::move(peer);
  try {
    for (;;) {
      const Next next = co_await processRequest(c);
      if (next == Next::Continue && !client.closed()) {
        giveBackLargeStorage(c);
        c.tracked.enter(c.reader.buffered() > 0 ? ConnectionState::Head : ConnectionState::Idle);
        continue;
      }
      // A head refused here or, to make room for others' heads, by the registry.
      if (next == Next::Refuse || c.tracked.refused()) {
        c.tracked.enter(ConnectionState::Busy);
        c.request.headers.releaseStorage();
        co_await sendBareStatus(client, "400 Bad Request");
      }
      break;
    }
  } catch (const std::exception& e) {
    // Only this connection ends; its peer sees the connection close.
    std::fprintf(stderr, "connection from %s ended: %s\n", c.request.hostname.c_str(), e.what());
  }
  client.close();
}

}  // namespace relaydash
