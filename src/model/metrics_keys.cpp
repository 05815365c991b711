#include "model/metrics_keys.hpp"

#include <algorithm>
#include <utility>

#include "crypto/blake2.hpp"
#include "crypto/buffer.hpp"
#include "crypto/constant_time.hpp"
#include "model/metrics_key_name.hpp"

namespace relaydash {
namespace {

constexpr std::int32_t kRandomBytes = 32;

std::string newKeyText() {
  std::string text = base64(newBufferRandomized(kRandomBytes));
  // base64url without padding: the key goes into headers and shell variables as it is.
  std::replace(text.begin(), text.end(), '+', '-');
  std::replace(text.begin(), text.end(), '/', '_');
  text.erase(std::remove(text.begin(), text.end(), '='), text.end());
  return std::string(MetricsKeys::kPrefix) + text;
}

std::string keyHash(std::string_view key) {
  return hex(blake2b(newBuffer(key)));
}

std::int64_t systemNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Runs change inside a savepoint (a transaction of its own, or a part of the caller's): all of it
// is written or none.
template <typename Change>
auto inSavepoint(const Db& db, Change change) {
  exec(db, "savepoint metrics_key_change");
  try {
    auto result = change();
    exec(db, "release metrics_key_change");
    return result;
  } catch (...) {
    exec(db, "rollback to metrics_key_change");
    exec(db, "release metrics_key_change");
    throw;
  }
}

}  // namespace

const Db& MetricsKeys::connection() {
  const Db& db = database_->connection();
  if (!tableReady_) {
    createMetricsKeyTable(db);
    tableReady_ = true;
  }
  return db;
}

void MetricsKeys::reload() {
  loaded_ = false;
  const Db& db = connection();
  if (!file_) file_.emplace(database_->path());
  // Read before the query: a write that lands in between raises the counter again, so the next
  // call reads once more rather than trusting hashes older than they look.
  const std::optional<std::uint32_t> counter = file_->read();
  valid_ = validMetricsKeyHashes(db);
  counter_ = counter;
  loaded_ = true;
}

void MetricsKeys::refresh() {
  if (loaded_ && counter_ && file_ && file_->read() == counter_) return;
  reload();
}

bool MetricsKeys::accepts(std::string_view key) {
  return accepts(key, systemNow());
}

bool MetricsKeys::accepts(std::string_view key, std::int64_t now) {
  // Nothing any key could be: answered without reading the database.
  if (key.size() != kKeyBytes || !key.starts_with(kPrefix)) return false;
  refresh();
  const std::string hash = keyHash(key);
  std::optional<std::int64_t> found;
  // Every hash is compared, each in constant time: how long the answer takes says nothing of
  // which key, or how much of one, a guess was near.
  for (const ValidKeyHash& valid : valid_) {
    if (constantTimeEquals(hash, valid.hash)) found = valid.id;
  }
  if (!found) return false;
  noteUse(*found, now);
  return true;
}

void MetricsKeys::noteUse(std::int64_t id, std::int64_t now) {
  LastUse& use = lastUse_[id];
  use.seen = std::max(use.seen, now);
  const std::int64_t every =
      std::chrono::duration_cast<std::chrono::microseconds>(kLastUseWrittenEvery).count();
  if (use.written != 0 && now - use.written < every) return;
  use.written = now;
  try {
    setMetricsKeyLastUse(connection(), id, now);
    // This write raised the counter: read now, while the connection is open, rather than at the
    // next scrape.
    reload();
  } catch (const DbError&) {
    // The key was accepted; a database that cannot be written (a full disk, a read-only file)
    // costs the last use after a restart and nothing else. Tried again at the next interval.
  }
}

NewMetricsKey MetricsKeys::create(std::string_view name, std::int64_t now) {
  std::optional<std::string> kept = metricsKeyName(name);
  if (!kept) {
    throw MetricsKeyError(MetricsKeyError::Kind::BadName,
                          "A key's name is 1 to " + std::to_string(kMaxMetricsKeyNameBytes) +
                              " bytes of text without control characters");
  }
  const Db& db = connection();
  NewMetricsKey made = inSavepoint(db, [&] {
    if (validMetricsKeyNamed(db, *kept)) {
      throw MetricsKeyError(MetricsKeyError::Kind::DuplicateName,
                            "A key named " + *kept + " is in use already");
    }
    if (countValidMetricsKeys(db) >= static_cast<std::int64_t>(kMaxValid)) {
      throw MetricsKeyError(
          MetricsKeyError::Kind::TooMany,
          std::to_string(kMaxValid) + " keys are in use already: revoke one before making another");
    }
    NewMetricsKey key{0, *kept, newKeyText(), now};
    key.id = insertMetricsKeyRow(db, key.name, keyHash(key.key), now);
    return key;
  });
  reload();
  return made;
}

std::string MetricsKeys::revoke(std::int64_t id, std::int64_t now) {
  const Db& db = connection();
  std::string name = inSavepoint(db, [&] {
    std::optional<std::string> found = validMetricsKeyName(db, id);
    if (!found || !revokeMetricsKeyRow(db, id, now)) {
      throw MetricsKeyError(MetricsKeyError::Kind::UnknownId,
                            "No metrics key in use has the id " + std::to_string(id));
    }
    return std::move(*found);
  });
  reload();
  return name;
}

std::vector<MetricsKeyRow> MetricsKeys::list() {
  std::vector<MetricsKeyRow> rows = listMetricsKeyRows(connection());
  for (MetricsKeyRow& row : rows) {
    const auto use = lastUse_.find(row.id);
    if (use != lastUse_.end() && (!row.lastUsedAt || *row.lastUsedAt < use->second.seen)) {
      row.lastUsedAt = use->second.seen;
    }
  }
  return rows;
}

}  // namespace relaydash
