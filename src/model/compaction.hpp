#pragma once

#include <cstdint>

#include "model/db.hpp"

namespace relaydash {

// The database file kept no larger than what it holds: SQLite leaves the pages of deleted rows in
// the file for later rows unless it is told to give them back.

// Turns on incremental auto-vacuum: on a new file at once, on an existing file by rebuilding it
// once (VACUUM, which takes as long as copying the file). Not inside a transaction. Raises
// DbError.
void useIncrementalVacuum(const Db& db);

// Gives the free pages back to the file system once there are more than `kept` of them; a few
// are worth keeping for the next rows. Needs incremental auto-vacuum (else does nothing). Raises
// DbError.
void releaseFreePages(const Db& db, std::int64_t kept);

}  // namespace relaydash
