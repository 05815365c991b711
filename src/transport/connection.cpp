#include "transport/connection.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

#include "ascii/ascii.hpp"
#include "runtime/event_loop.hpp"
#include "runtime/memory.hpp"
#include "runtime/socket.hpp"
#include "transport/limits.hpp"
#include "transport/request_head.hpp"
#include "transport/request_parser.hpp"

namespace relaydash {
namespace {

// What the connection does after a step.
enum class Next {
  ReadMore,  // it needs more of the peer's bytes
  Continue,  // it goes on with what it has
  Call,      // the request is complete: hand it to the callback
  Close,     // it ends once the queued answers are written
};

// After the callback: keep the connection for another request?
bool keepAlive(const Request& request) {
  // A connection asking for an upgrade is not read again; no handler here takes it over, so it
  // is closed rather than left open forever. The header is looked up once for both questions.
  const std::vector<std::string>* values = request.headers.find("connection");
  if (values && anyEqualsIgnoreCase(*values, "upgrade")) return false;
  const std::string_view connection = values ? std::string_view(values->front()) : "";
  const Protocol& p = request.protocol;
  if (p.major == 1 && p.minor == 1) return !ascii::equalsIgnoreCase(connection, "close");
  if (p.major == 1 && p.minor == 0) return ascii::equalsIgnoreCase(connection, "keep-alive");
  return false;
}

// An LF that the head's last CR was waiting for belongs to that line end, not to the body.
void dropPendingLf(HeadProgress& progress, ReadBuffer& input) {
  if (!progress.lfPending || input.empty()) return;
  if (input.unread().front() == '\n') input.consume(1);
  progress.lfPending = false;
}

Task<void> trimAfterBurst(Connections& shared);

using Clock = TrackedConnection::Clock;

// One connection's state between its suspensions: its socket, its place in the registry, where
// its head stands, and the workspace it borrows while it works. Lives in its coroutine's frame,
// which an idle connection is all but made of: kept small on purpose.
class Connection {
 public:
  Connection(FileDescriptor fd, PeerAddress peer, Connections& shared)
      : socket_(std::move(fd)), peer_(peer), shared_(shared), tracked_(shared.registry, socket_) {
    firstRead_ = static_cast<bool>(shared_.openSecure);
    shared_.peak = std::max(shared_.peak, ++shared_.open);
    if (shared_.shortReadsDrain) socket_.setShortReadsDrain();
    // A request seldom arrives with the connection: wait for it rather than try a read first.
    socket_.setDrained();
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  // Gives the memory a burst of connections took back once most of them are gone.
  ~Connection() {
    if (workspace_) giveBack();
    --shared_.open;
    if (shared_.peak >= limits::kBurstConnections && shared_.open <= shared_.peak / 4 &&
        !shared_.trimPending) {
      shared_.trimPending = true;
      EventLoop::current().spawn(trimAfterBurst(shared_));
    }
  }

  Socket& socket() noexcept { return socket_; }
  Workspace* workspace() const noexcept { return workspace_.get(); }
  TrackedConnection& tracked() noexcept { return tracked_; }
  std::string_view peer() const noexcept { return peer_.text(); }

  // Borrows a workspace for a request that has started to arrive.
  void borrow() {
    workspace_ = shared_.workspaces.acquire();
    workspace_->writer.attach(socket_, tracked_);
    workspace_->request.writer = &workspace_->writer;
    workspace_->request.hostname = peer_.text();
    workspace_->request.secure = layer_ != nullptr;
  }

  StreamLayer* layer() const noexcept { return layer_.get(); }

  // After the connection's first read: a TLS handshake (its first byte 0x16, a handshake
  // record) goes to the TLS side with the bytes read, which leave the buffer. True when it has.
  bool startTls() {
    if (!std::exchange(firstRead_, false)) return false;
    ReadBuffer& input = workspace_->input;
    if (input.empty() || input.unread().front() != kTlsHandshake) return false;
    layer_ = shared_.openSecure(socket_.fd(), input.unread());
    if (!layer_) return false;
    input.consume(input.unread().size());
    socket_.setLayer(layer_.get());
    workspace_->request.secure = true;
    return true;
  }
  // Gives the workspace back: nothing of the next request has arrived.
  void giveBack() noexcept {
    tracked_.hold(0);
    shared_.workspaces.release(std::move(workspace_));
  }

  // Nothing is buffered and no head or body has begun: the connection may wait without a
  // workspace.
  // A TLS handshake under way is the start of a head.
  bool idle() const noexcept {
    return !readingBody_ && workspace_->input.empty() &&
           progress_.phase == HeadProgress::Phase::RequestLine &&
           (!layer_ || layer_->established());
  }

  // Reads the head from what is buffered.
  Next readHead(bool atEnd) {
    Workspace& w = *workspace_;
    const HeadResult head =
        readRequestHead(w.input.unread(), atEnd, progress_, w.request, w.requestMemo);
    w.input.consume(head.used);
    switch (head.status) {
      case HeadStatus::Incomplete:
        // The connection is in Head only while it waits for the rest of a head: a head that
        // arrives whole takes it from Idle to Busy at once.
        tracked_.enter(ConnectionState::Head);
        // What the head holds so far counts against the memory of all requests in hand.
        if (!holdWorkspace()) return refuseHead();
        return Next::ReadMore;
      case HeadStatus::Complete:
        tracked_.enter(ConnectionState::Busy);
        if (!holdWorkspace()) return refuseHead();
        return startBody();
      case HeadStatus::BadRequestLine:
        tracked_.enter(ConnectionState::Busy);
        w.writer.queue(TransportAnswer::BadRequest);
        return Next::Continue;
      case HeadStatus::LineTooLong:
        tracked_.enter(ConnectionState::Busy);
        w.writer.queue(TransportAnswer::EntityTooLarge);
        return Next::Close;
      case HeadStatus::TooLarge:
        return refuseHead();
      case HeadStatus::Ended:
        break;
    }
    return Next::Close;
  }

  // Takes the body from what is buffered.
  Next readBody(bool atEnd) {
    Workspace& w = *workspace_;
    dropPendingLf(progress_, w.input);
    const std::string_view unread = w.input.unread();
    const std::size_t take = std::min(unread.size(), bodyLeft_);
    w.request.body.append(unread.substr(0, take));
    w.input.consume(take);
    bodyLeft_ -= take;
    if (take > 0) tracked_.progressed(Clock::now());
    readingBody_ = bodyLeft_ > 0;
    if (!readingBody_) return Next::Call;
    if (!atEnd) return Next::ReadMore;
    // The stream ended inside the body.
    readingBody_ = false;
    w.writer.queue(TransportAnswer::ContentLengthMismatch);
    return Next::Continue;
  }

  Next advance(bool atEnd) { return readingBody_ ? readBody(atEnd) : readHead(atEnd); }

  // After the callback: does the connection go on?
  Next afterRequest() {
    Workspace& w = *workspace_;
    if (w.writer.closing() || !keepAlive(w.request)) return Next::Close;
    // A large request leaves nothing behind.
    if (progress_.heldBytes > limits::kKeptHeaderStorage) {
      w.trim();
    } else {
      w.input.shrink();
    }
    // Answered: what the connection keeps for its next request is bounded by the workspace.
    tracked_.hold(0);
    return Next::Continue;
  }

  // The registry ended the connection: a refused head gets its answer, a reclaimed
  // connection none.
  Next ended() {
    if (!tracked_.refused()) return Next::Close;
    if (!workspace_) borrow();
    return refuseHead();
  }

 private:
  // After a complete head: the interim answers and what the body needs.
  Next startBody() {
    Workspace& w = *workspace_;
    Request& request = w.request;
    request.body.clear();
    const bool isPost = request.reqMethod == HttpMethod::HttpPost;
    if (isPost && request.headers.hasKey("expect")) {
      w.writer.queue(request.headers.hasValue("expect", "100-continue")
                         ? TransportAnswer::Continue
                         : TransportAnswer::ExpectationFailed);
    }
    const auto* contentLength = request.headers.find("content-length");
    if (!contentLength) {
      if (!isPost) return Next::Call;
      w.writer.queue(TransportAnswer::LengthRequired);
      return Next::Continue;
    }
    const auto length = parseContentLength(contentLength->front());
    if (!length) {
      // The body is not read: what follows is taken as the next request.
      w.writer.queue(TransportAnswer::InvalidContentLength);
      return Next::Continue;
    }
    if (*length > shared_.maxBody) {
      w.writer.queue(TransportAnswer::EntityTooLarge);
      return Next::Close;
    }
    bodyLeft_ = static_cast<std::size_t>(*length);
    if (bodyLeft_ == 0) return Next::Call;
    request.body.reserve(bodyLeft_);
    readingBody_ = true;
    tracked_.enter(ConnectionState::Body, Clock::now());
    if (!holdWorkspace()) return refuseHead();
    return readBody(false);
  }

  // Counts what the workspace holds for the request in hand: the head as parsed and the
  // buffers. False when the connection is to be refused.
  bool holdWorkspace() noexcept {
    const Workspace& w = *workspace_;
    return tracked_.hold(sizeof(Workspace) + progress_.heldBytes + w.input.capacity() +
                         w.request.body.capacity());
  }

  Next refuseHead() {
    tracked_.enter(ConnectionState::Busy);
    readingBody_ = false;
    workspace_->releaseHeaders();
    workspace_->writer.queue(TransportAnswer::HeadRefused);
    return Next::Close;
  }

  static constexpr char kTlsHandshake = 0x16;

  // Before the socket: the socket may call it until it is closed.
  std::unique_ptr<StreamLayer> layer_;
  Socket socket_;
  PeerAddress peer_;
  Connections& shared_;
  TrackedConnection tracked_;
  HeadProgress progress_;
  std::unique_ptr<Workspace> workspace_;
  std::size_t bodyLeft_ = 0;
  bool readingBody_ = false;
  // The first read is still to come, and may start TLS.
  bool firstRead_ = false;
};

// Gives the memory a burst of connections took back to the system, once it is over and things
// have been quiet for a while.
Task<void> trimAfterBurst(Connections& shared) {
  co_await SleepFor(limits::kQuietBeforeTrim);
  shared.workspaces.clear();
  releaseFreeMemory();
  shared.peak = shared.open;
  shared.trimPending = false;
}

}  // namespace

Task<void> closeStalledConnections(Connections& shared) {
  for (;;) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> due =
        shared.registry.endStalledBodies(now - shared.bodyStallLimit, shared.bodyStallLimit);
    const std::optional<Clock::time_point> senderDue =
        shared.registry.endStalledSenders(now, now - shared.sendStallLimit, shared.sendStallLimit);
    if (!due || (senderDue && *senderDue < *due)) due = senderDue;
    // With neither open, a look every quarter of the shorter limit: one that starts meanwhile
    // is closed at most that much later than due.
    const auto wait = due ? std::chrono::ceil<std::chrono::milliseconds>(*due - now)
                          : std::min(shared.bodyStallLimit, shared.sendStallLimit) / 4;
    co_await SleepFor(std::max(wait, std::chrono::milliseconds(1)));
  }
}

Task<void> serveConnection(FileDescriptor fd, PeerAddress peer, Connections& shared) {
  Connection c(std::move(fd), peer, shared);
  Socket& socket = c.socket();
  try {
    bool atEnd = false;
    Next next = Next::ReadMore;
    for (;;) {
      if (next == Next::Call) {
        Workspace& w = *c.workspace();
        w.writer.setBatching(true);
        co_await shared.callback(w.request).onFirstWait(
            [&w]() noexcept { w.writer.handlerWaits(); });
        w.writer.setBatching(false);
        // Ended while its answer waited for a peer that took nothing: the rest goes unread.
        next = c.tracked().reclaimed() ? Next::Close : c.afterRequest();
      }
      if (next == Next::Continue) {
        if (!c.idle()) {
          next = c.advance(atEnd);
          continue;
        }
        next = Next::ReadMore;
      }
      if (next == Next::Close) break;

      // More of the peer's bytes are needed: the answers made so far go out first.
      if (Workspace* w = c.workspace(); w && !w->writer.flushNow()) co_await w->writer.flush();
      if (atEnd) {
        next = c.advance(true);
        if (next == Next::ReadMore) break;
        continue;
      }
      // Nothing of the next request is here: wait for it holding no workspace.
      if (c.workspace() && c.idle()) {
        c.giveBack();
        c.tracked().enter(ConnectionState::Idle);
      }
      // The one place the connection waits for its peer.
      co_await socket.readable();
      if (socket.interrupted()) {
        next = c.ended();
        continue;
      }
      if (!c.workspace()) c.borrow();
      ReadBuffer& input = c.workspace()->input;
      std::optional<std::size_t> n = socket.readNow(input.room());
      if (n) input.added(*n);
      // A TLS handshake goes on from what came; usually it then waits for the client.
      if (n && *n > 0 && c.startTls()) {
        n = socket.readNow(input.room());
        if (n) input.added(*n);
      }
      if (!n) continue;  // nothing after all: wait again
      atEnd = *n == 0;
      next = c.advance(atEnd);
    }
    if (Workspace* w = c.workspace(); w && !w->writer.flushNow()) co_await w->writer.flush();
    if (StreamLayer* layer = c.layer()) layer->finish();
  } catch (const std::exception& e) {
    // Only this connection ends; its peer sees the connection close.
    std::fprintf(stderr, "connection from %.*s ended: %s\n", static_cast<int>(c.peer().size()),
                 c.peer().data(), e.what());
  }
}

}  // namespace relaydash
