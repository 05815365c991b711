#include "model/sqlite.hpp"

#include "loader/shared_library.hpp"

namespace relaydash {
namespace {

struct LoadedSqlite {
  SharedLibrary library;
  Sqlite functions;
};

LoadedSqlite load() {
  LoadedSqlite loaded{loadLibraryOrExit({"libsqlite3.so", "libsqlite3.so.0"}), {}};
  const SharedLibrary& lib = loaded.library;
  Sqlite& f = loaded.functions;
  importOrExit(lib, "sqlite3_open", f.open);
  importOrExit(lib, "sqlite3_errmsg", f.errmsg);
  importOrExit(lib, "sqlite3_prepare_v2", f.prepare);
  importOrExit(lib, "sqlite3_step", f.step);
  importOrExit(lib, "sqlite3_finalize", f.finalize);
  importOrExit(lib, "sqlite3_column_count", f.columnCount);
  importOrExit(lib, "sqlite3_column_bytes", f.columnBytes);
  importOrExit(lib, "sqlite3_column_text", f.columnText);
  // Values are bound to their statement rather than pasted into its text, so no byte of a user
  // name can change what a statement does.
  importOrExit(lib, "sqlite3_bind_text", f.bindText);
  // A statement compiled once runs again for each row of a batch.
  importOrExit(lib, "sqlite3_reset", f.reset);
  // A connection is released by its owner; the application's lives as long as the process.
  importOrExit(lib, "sqlite3_close", f.close);
  return loaded;
}

}  // namespace

void loadSqlite() {
  sqlite();
}

const Sqlite& sqlite() {
  static const LoadedSqlite loaded = load();
  return loaded.functions;
}

}  // namespace relaydash
