#pragma once

#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/sqlite.hpp"

namespace relaydash {

// A failed database call; the message is SQLite's text for the connection.
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Owns one SQLite connection and closes it when it goes away, and holds SQLite loaded meanwhile.
// Move-only. Constness is that of the handle: statements run through a const Db.
class Db {
 public:
  Db() = default;
  Db(sqlite3* connection, SqliteHold sqlite) noexcept
      : sqlite_(std::move(sqlite)), connection_(connection) {}
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  Db(Db&& other) noexcept
      : sqlite_(std::move(other.sqlite_)), connection_(std::exchange(other.connection_, nullptr)) {}
  Db& operator=(Db&& other) noexcept {
    if (this != &other) {
      close();
      sqlite_ = std::move(other.sqlite_);
      connection_ = std::exchange(other.connection_, nullptr);
    }
    return *this;
  }
  ~Db() { close(); }

  sqlite3* get() const noexcept { return connection_; }
  // The functions of the SQLite that opened this connection; only for an open one.
  const Sqlite& sqlite() const noexcept { return *sqlite_; }

 private:
  // Closes the connection, then lets SQLite go.
  void close() noexcept;

  SqliteHold sqlite_;
  sqlite3* connection_ = nullptr;
};

using Row = std::vector<std::string>;

// Opens the database file at path, creating it when it is missing (mode 0600, readable by its
// owner alone, whatever the umask; an existing file keeps its mode). A file that is not a
// database opens; the first statement then fails.
Db open(const std::string& path);

// Each "?" of a statement takes the next argument, as text, byte for byte (NUL bytes included).
// A failure raises DbError with SQLite's message for the connection.

// Runs a statement that returns no rows.
void exec(const Db& db, std::string_view statement,
          std::initializer_list<std::string_view> arguments = {});

// Runs a statement that returns no rows once for each row of arguments, compiled once: the way
// to write many rows (inside a transaction or savepoint the caller opens, so that they cost one
// sync of the file). Stops at the first failure.
void execEach(const Db& db, std::string_view statement, std::span<const Row> argumentRows);

// Runs a query: every row as its column texts, in SQLite's order; NULL reads as empty text.
std::vector<Row> getAllRows(const Db& db, std::string_view statement,
                            std::initializer_list<std::string_view> arguments = {});

}  // namespace relaydash
