#include "transport/answer_writer.hpp"

#include <sys/uio.h>

#include <utility>

#include "transport/limits.hpp"

namespace relaydash {
namespace {

iovec piece(std::string_view bytes) noexcept {
  return {const_cast<char*>(bytes.data()), bytes.size()};
}

}  // namespace

Task<void> AnswerWriter::write(int code, HeaderFields fields, std::string_view body,
                               bool withBody) {
  appendAnswerHead(queue_, code, fields, body.size());
  return send(withBody ? body : std::string_view());
}

Task<void> AnswerWriter::write(const ConstantAnswer& answer, bool withBody) {
  if (const std::string_view whole = answer.whole(); withBody && !whole.empty()) {
    queue_.append(whole);
    return send({});
  }
  queue_.append(answer.head());
  return send(withBody ? answer.body() : std::string_view());
}

Task<void> AnswerWriter::send(std::string_view body) {
  if (body.size() <= limits::kMaxCopiedBody) {
    if (!body.empty()) queue_.append(body);
    if (batching_ && queue_.size() - sent_ < limits::kMaxQueuedAnswers) return Task<void>::ready();
    if (flushNow()) return Task<void>::ready();
    return finish({}, 0);
  }
  const iovec pieces[] = {piece(std::string_view(queue_).substr(sent_)), piece(body)};
  const std::size_t sent = socket_->sendNow(pieces);
  const std::size_t queued = queue_.size() - sent_;
  if (sent < queued) {
    sent_ += sent;
    return finish(body, 0);
  }
  clearQueue();
  if (sent - queued == body.size()) return Task<void>::ready();
  return finish(body, sent - queued);
}

bool AnswerWriter::flushNow() {
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  if (writing_) return false;
  if (empty()) return true;
  const iovec pieces[] = {piece(std::string_view(queue_).substr(sent_))};
  sent_ += socket_->sendNow(pieces);
  if (!empty()) return false;
  clearQueue();
  return true;
}

void AnswerWriter::handlerWaits() noexcept {
  batching_ = false;
  try {
    flushNow();
  } catch (...) {
    failure_ = std::current_exception();
  }
}

Task<void> AnswerWriter::flush() {
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  co_await finish({}, 0);
}

Task<void> AnswerWriter::finish(std::string_view body, std::size_t bodySent) {
  using Clock = TrackedConnection::Clock;
  writing_ = true;
  // Only reached when the kernel did not take everything at once: the peer has some catching
  // up to do, and until it has, the connection counts as sending.
  tracked_->startSending(Clock::now());
  try {
    const iovec pieces[] = {piece(std::string_view(queue_).substr(sent_)),
                            piece(body.substr(bodySent))};
    co_await socket_->write(pieces);
  } catch (...) {
    writing_ = false;
    tracked_->doneSending(Clock::now());
    throw;
  }
  writing_ = false;
  tracked_->doneSending(Clock::now());
  clearQueue();
}

void AnswerWriter::clearQueue() noexcept {
  queue_.clear();
  sent_ = 0;
}

void AnswerWriter::reset() noexcept {
  clearQueue();
  if (queue_.capacity() > limits::kKeptAnswerQueue) std::string().swap(queue_);
  socket_ = nullptr;
  tracked_ = nullptr;
  batching_ = false;
  writing_ = false;
  closing_ = false;
  failure_ = nullptr;
}

}  // namespace relaydash
