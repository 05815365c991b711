#pragma once

#include <chrono>
#include <string>

#include "model/db.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The account database as the application uses it: the connection is opened when something
// needs it and closed once kCloseAfter has passed without use, and SQLite's code and memory leave
// the process with it. A gateway spends most of its life with nobody signed in; a burst of
// sign-ins or changes keeps one connection open throughout.
//
// Used on the event loop's thread; the idle wait runs on the loop (outside one, the connection
// stays open until close() or the end).
class Database {
 public:
  static constexpr std::chrono::milliseconds kCloseAfter{10'000};

  Database() = default;
  explicit Database(std::chrono::milliseconds closeAfter) : closeAfter_(closeAfter) {}
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the database file at path (creating it when it is missing) and keeps the path for
  // reopening: raises DbError when it cannot be opened.
  void open(std::string path);

  // The open connection, opened again if need be: raises DbError when it cannot be. Valid
  // until the caller next suspends: never hold it across a co_await.
  const Db& connection();
  // Closes the connection now; the next connection() opens it again.
  void close() noexcept;
  bool isOpen() const noexcept { return db_.get() != nullptr; }
  // The file given to open(); empty before.
  const std::string& path() const noexcept { return path_; }

 private:
  Task<void> closeWhenIdle();

  std::string path_;
  std::chrono::milliseconds closeAfter_ = kCloseAfter;
  Db db_;
  std::chrono::steady_clock::time_point lastUse_{};
  bool closePending_ = false;
};

}  // namespace relaydash
