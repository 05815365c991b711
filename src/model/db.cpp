#include "model/db.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <limits>

#include "model/sqlite.hpp"

namespace relaydash {
namespace {

[[noreturn]] void raiseDbError(const Db& db) {
  throw DbError(db.sqlite().errmsg(db.get()));
}

// SQLite takes lengths as int; longer text is refused with SQLite's own words for it.
int textLength(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw DbError("string or blob too big");
  }
  return static_cast<int>(text.size());
}

// Owns one prepared statement; finalize() releases it and reports SQLite's result, the
// destructor releases a statement abandoned by an error.
class Statement {
 public:
  // Compiles the whole statement text and binds each argument, as text, to the next parameter.
  // Values are bound, never pasted into the statement's text: whatever bytes a user name holds,
  // it cannot change what a statement does. The explicit length carries NUL bytes through, and
  // SQLITE_TRANSIENT has SQLite keep its own copy.
  template <typename Arguments>
  Statement(const Db& db, std::string_view text, const Arguments& arguments) : db_(db) {
    if (db.sqlite().prepare(db.get(), text.data(), textLength(text), &statement_, nullptr) !=
        SQLITE_OK) {
      raiseDbError(db);
    }
    bind(arguments);
  }
  Statement(const Db& db, std::string_view text, std::initializer_list<std::string_view> arguments)
      : Statement(db, text,
                  std::span<const std::string_view>(arguments.begin(), arguments.size())) {}

  template <typename Arguments>
  void bind(const Arguments& arguments) {
    int index = 0;
    for (std::string_view argument : arguments) {
      if (db_.sqlite().bindText(statement_, ++index, argument.data(), textLength(argument),
                                SQLITE_TRANSIENT) != SQLITE_OK) {
        raiseDbError(db_);
      }
    }
  }

  // Makes the statement ready to run again, with new arguments.
  void reset() { db_.sqlite().reset(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { finalize(); }

  // An empty text (or one of comments alone) compiles to no statement, which runs as done.
  int step() { return statement_ == nullptr ? SQLITE_DONE : db_.sqlite().step(statement_); }

  int finalize() noexcept { return db_.sqlite().finalize(std::exchange(statement_, nullptr)); }

  sqlite3_stmt* get() const noexcept { return statement_; }

 private:
  const Db& db_;
  sqlite3_stmt* statement_ = nullptr;
};

// The file holds password hashes: a new one is made readable by its owner alone, whatever the
// umask. SQLite takes an empty file for an empty database and gives its journal the file's mode.
// An existing file keeps its mode; a path that cannot be created is left for SQLite to report.
void createPrivately(const std::string& path) {
  if (path.empty() || path == ":memory:") return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

}  // namespace

void Db::close() noexcept {
  if (connection_ != nullptr) sqlite_->close(std::exchange(connection_, nullptr));
  sqlite_.reset();
}

Db open(const std::string& path) {
  SqliteHold sqlite = holdSqlite();
  sqlite3* connection = nullptr;
  createPrivately(path);
  const int result = sqlite->open(path.c_str(), &connection);
  // The connection exists also when opening failed (unless memory ran out) and carries the
  // message; the owner closes it either way.
  Db db(connection, std::move(sqlite));
  if (result != SQLITE_OK) {
    if (connection == nullptr) throw DbError("out of memory");
    raiseDbError(db);
  }
  return db;
}

void exec(const Db& db, std::string_view statement,
          std::initializer_list<std::string_view> arguments) {
  Statement compiled(db, statement, arguments);
  const int stepped = compiled.step();
  if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
    compiled.finalize();
    raiseDbError(db);
  }
  if (compiled.finalize() != SQLITE_OK) raiseDbError(db);
}

void execEach(const Db& db, std::string_view statement, std::span<const Row> argumentRows) {
  if (argumentRows.empty()) return;
  Statement compiled(db, statement, argumentRows.front());
  for (std::size_t i = 0; i < argumentRows.size(); ++i) {
    if (i > 0) {
      compiled.reset();
      compiled.bind(argumentRows[i]);
    }
    const int stepped = compiled.step();
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
      compiled.finalize();
      raiseDbError(db);
    }
  }
  if (compiled.finalize() != SQLITE_OK) raiseDbError(db);
}

std::vector<Row> getAllRows(const Db& db, std::string_view statement,
                            std::initializer_list<std::string_view> arguments) {
  Statement compiled(db, statement, arguments);
  const int columns = compiled.get() == nullptr ? 0 : db.sqlite().columnCount(compiled.get());
  std::vector<Row> rows;
  while (compiled.step() == SQLITE_ROW) {
    Row& row = rows.emplace_back();
    row.reserve(static_cast<std::size_t>(columns));
    for (int column = 0; column < columns; ++column) {
      // The text first, then its length: asking for the text may convert the value.
      const unsigned char* text = db.sqlite().columnText(compiled.get(), column);
      const int length = db.sqlite().columnBytes(compiled.get(), column);
      row.emplace_back(text == nullptr ? std::string()
                                       : std::string(reinterpret_cast<const char*>(text),
                                                     static_cast<std::size_t>(length)));
    }
  }
  if (compiled.finalize() != SQLITE_OK) raiseDbError(db);
  return rows;
}

}  // namespace relaydash
