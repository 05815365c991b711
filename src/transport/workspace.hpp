#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "transport/answer_writer.hpp"
#include "transport/request.hpp"
#include "transport/request_head.hpp"

namespace relaydash {

// The bytes a connection has received and not yet used: a request's head is parsed straight
// from here, and bytes past the request stay for the next one.
class ReadBuffer {
 public:
  std::string_view unread() const noexcept { return {data_.get() + begin_, end_ - begin_}; }
  bool empty() const noexcept { return begin_ == end_; }
  std::size_t capacity() const noexcept { return capacity_; }
  void consume(std::size_t n) noexcept;
  // Where the next read goes: never empty. Moves the unread bytes to the front, or grows the
  // buffer up to limits::kMaxReadBuffer, when the end is reached. Precondition: fewer unread
  // bytes than the largest buffer holds (the head parser refuses a longer line first).
  std::span<char> room();
  void added(std::size_t n) noexcept { end_ += n; }
  // Gives back what a large request made the buffer grow, when the unread bytes fit the usual
  // size.
  void shrink();

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// What a connection needs while it reads and answers a request: the request record, the read
// buffer and the answers. A connection borrows one from the pool when its peer sends something
// and gives it back when it waits for its next request with nothing left to read, so an idle
// connection costs only its own small state.
struct Workspace {
  Request request;
  HeadMemo requestMemo;  // the head last parsed into the request
  ReadBuffer input;
  AnswerWriter writer;

  // Gives back the storage a large request made grow: what a connection keeps between requests
  // is what ordinary ones need.
  void trim();
  // Gives back all of the header map's storage, and with it the memory of the head it held.
  void releaseHeaders() noexcept;
};

// The workspaces not lent out, kept for reuse up to limits::kKeptWorkspaces. One per server.
class WorkspacePool {
 public:
  WorkspacePool();
  WorkspacePool(const WorkspacePool&) = delete;
  WorkspacePool& operator=(const WorkspacePool&) = delete;

  std::unique_ptr<Workspace> acquire();
  // Takes back a workspace whose writer is empty, dropping what it still holds of its last
  // request and the storage a large request made grow.
  void release(std::unique_ptr<Workspace> workspace) noexcept;
  // Gives back every kept workspace (after a burst of connections).
  void clear() noexcept { kept_.clear(); }

 private:
  std::vector<std::unique_ptr<Workspace>> kept_;
};

}  // namespace relaydash
