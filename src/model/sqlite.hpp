#pragma once

#include <sqlite3.h>

namespace relaydash {

// The SQLite functions this program calls, resolved once from the shared library.
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

// Loads SQLite and resolves its functions. Called first thing at start-up, before libsodium;
// later calls do nothing. A missing library or function ends the process (status 1).
void loadSqlite();

// The resolved functions; loads the library on first use.
const Sqlite& sqlite();

}  // namespace relaydash
