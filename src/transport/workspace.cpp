#include "transport/workspace.hpp"

#include <algorithm>
#include <cstring>

#include "transport/limits.hpp"

namespace relaydash {

void ReadBuffer::consume(std::size_t n) noexcept {
  begin_ += n;
  if (begin_ == end_) begin_ = end_ = 0;
}

std::span<char> ReadBuffer::room() {
  if (end_ == capacity_) {
    if (begin_ > 0) {
      std::memmove(data_.get(), data_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    } else {
      const std::size_t grown =
          capacity_ == 0 ? limits::kReadBuffer : std::min(capacity_ * 2, limits::kMaxReadBuffer);
      auto bigger = std::make_unique_for_overwrite<char[]>(grown);
      if (end_ > 0) std::memcpy(bigger.get(), data_.get(), end_);
      data_ = std::move(bigger);
      capacity_ = grown;
    }
  }
  return {data_.get() + end_, capacity_ - end_};
}

void ReadBuffer::shrink() {
  const std::size_t unread = end_ - begin_;
  if (capacity_ <= limits::kReadBuffer || unread > limits::kReadBuffer) return;
  auto smaller = std::make_unique_for_overwrite<char[]>(limits::kReadBuffer);
  std::memcpy(smaller.get(), data_.get() + begin_, unread);
  data_ = std::move(smaller);
  capacity_ = limits::kReadBuffer;
  begin_ = 0;
  end_ = unread;
}

void Workspace::trim() {
  if (request.headers.storageBytes() > limits::kKeptHeaderStorage) releaseHeaders();
  input.shrink();
}

void Workspace::releaseHeaders() noexcept {
  request.headers.releaseStorage();
  requestMemo.forget();
}

WorkspacePool::WorkspacePool() {
  kept_.reserve(limits::kKeptWorkspaces);
}

std::unique_ptr<Workspace> WorkspacePool::acquire() {
  if (kept_.empty()) return std::make_unique<Workspace>();
  std::unique_ptr<Workspace> workspace = std::move(kept_.back());
  kept_.pop_back();
  return workspace;
}

void WorkspacePool::release(std::unique_ptr<Workspace> workspace) noexcept {
  if (kept_.size() >= limits::kKeptWorkspaces) return;
  workspace->input.consume(workspace->input.unread().size());
  workspace->trim();
  workspace->writer.reset();
  workspace->request.writer = nullptr;
  workspace->request.hostname = {};
  // The one given back last is lent first, while it is still warm in the cache. The room was
  // reserved: this never allocates.
  kept_.push_back(std::move(workspace));
}

}  // namespace relaydash
