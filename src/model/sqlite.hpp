#pragma once

#include <sqlite3.h>

#include <memory>

namespace relaydash {

// The SQLite functions this program calls, resolved from the shared library.
struct Sqlite {
  decltype(&::sqlite3_open) open;
  decltype(&::sqlite3_errmsg) errmsg;
  decltype(&::sqlite3_prepare_v2) prepare;
  decltype(&::sqlite3_step) step;
  decltype(&::sqlite3_finalize) finalize;
  decltype(&::sqlite3_column_count) columnCount;
  decltype(&::sqlite3_column_bytes) columnBytes;
  decltype(&::sqlite3_column_text) columnText;
  decltype(&::sqlite3_bind_text) bindText;
  decltype(&::sqlite3_reset) reset;
  decltype(&::sqlite3_close) close;
};

// SQLite is loaded while something holds it (every open connection does) and unloaded with the
// last hold: an idle gateway keeps none of its 1.2 MB of code mapped.
using SqliteHold = std::shared_ptr<const Sqlite>;

// Start-up check, before anything else: loads SQLite and resolves its functions, then lets it
// go. A missing library or function ends the process (status 1).
void loadSqlite();

// A hold on SQLite, loading it when nothing holds it yet. A library or function gone missing
// since start-up raises DbError with the same words the start-up check prints.
SqliteHold holdSqlite();

}  // namespace relaydash
