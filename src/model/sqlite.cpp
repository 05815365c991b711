#include "model/sqlite.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "loader/shared_library.hpp"
#include "model/db.hpp"

namespace relaydash {
namespace {

constexpr std::initializer_list<const char*> kNames = {"libsqlite3.so", "libsqlite3.so.0"};

struct LoadedSqlite {
  SharedLibrary library;
  Sqlite functions{};
};

// Resolves every function; raises DbError for the first one the library lacks.
void resolve(LoadedSqlite& loaded) {
  Sqlite& f = loaded.functions;
  const auto take = [&loaded](const char* name, auto*& slot) {
    if (!import(loaded.library, name, slot)) {
      throw DbError(std::string("could not import: ") + name);
    }
  };
  take("sqlite3_open", f.open);
  take("sqlite3_errmsg", f.errmsg);
  take("sqlite3_prepare_v2", f.prepare);
  take("sqlite3_step", f.step);
  take("sqlite3_finalize", f.finalize);
  take("sqlite3_column_count", f.columnCount);
  take("sqlite3_column_bytes", f.columnBytes);
  take("sqlite3_column_text", f.columnText);
  // Values are bound to their statement rather than pasted into its text, so no byte of a user
  // name can change what a statement does.
  take("sqlite3_bind_text", f.bindText);
  // A statement compiled once runs again for each row of a batch.
  take("sqlite3_reset", f.reset);
  take("sqlite3_close", f.close);
}

// The library as loaded now; empty when nothing holds it.
std::weak_ptr<const LoadedSqlite>& current() {
  static std::weak_ptr<const LoadedSqlite> loaded;
  return loaded;
}

}  // namespace

void loadSqlite() {
  try {
    holdSqlite();
  } catch (const DbError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::exit(1);
  }
}

SqliteHold holdSqlite() {
  std::shared_ptr<const LoadedSqlite> held = current().lock();
  if (!held) {
    auto loaded = std::make_shared<LoadedSqlite>();
    loaded->library = SharedLibrary::open(kNames);
    if (!loaded->library) throw DbError("could not load: " + libraryNamePattern(kNames));
    resolve(*loaded);
    current() = loaded;
    held = std::move(loaded);
  }
  // Shares the ownership of the whole, points at its functions.
  return SqliteHold(held, &held->functions);
}

}  // namespace relaydash
