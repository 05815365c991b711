#include "model/sqlite.hpp"

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

// Resolves every function into loaded.functions; the first one missing is handed to missing,
// which does not return.
template <typename Missing>
void resolve(LoadedSqlite& loaded, Missing missing) {
  Sqlite& f = loaded.functions;
  auto import = [&](const char* name, auto*& slot) {
    void* address = loaded.library.symbol(name);
    if (address == nullptr) missing(name);
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
  };
  import("sqlite3_open", f.open);
  import("sqlite3_errmsg", f.errmsg);
  import("sqlite3_prepare_v2", f.prepare);
  import("sqlite3_step", f.step);
  import("sqlite3_finalize", f.finalize);
  import("sqlite3_column_count", f.columnCount);
  import("sqlite3_column_bytes", f.columnBytes);
  import("sqlite3_column_text", f.columnText);
  // Values are bound to their statement rather than pasted into its text, so no byte of a user
  // name can change what a statement does.
  import("sqlite3_bind_text", f.bindText);
  // A statement compiled once runs again for each row of a batch.
  import("sqlite3_reset", f.reset);
  import("sqlite3_close", f.close);
}

// The library as loaded now; empty when nothing holds it.
std::weak_ptr<const LoadedSqlite>& current() {
  static std::weak_ptr<const LoadedSqlite> loaded;
  return loaded;
}

}  // namespace

void loadSqlite() {
  LoadedSqlite loaded{loadLibraryOrExit(kNames)};
  resolve(loaded, [](const char* name) { exitCouldNotImport(name); });
}

SqliteHold holdSqlite() {
  std::shared_ptr<const LoadedSqlite> held = current().lock();
  if (!held) {
    auto loaded = std::make_shared<LoadedSqlite>();
    loaded->library = SharedLibrary::open(kNames);
    if (!loaded->library) throw DbError("could not load: " + libraryNamePattern(kNames));
    resolve(*loaded,
            [](const char* name) { throw DbError(std::string("could not import: ") + name); });
    current() = loaded;
    held = std::move(loaded);
  }
  // Shares the ownership of the whole, points at its functions.
  return SqliteHold(held, &held->functions);
}

}  // namespace relaydash
