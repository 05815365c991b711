#include "model/account_cache.hpp"

namespace relaydash {

AccountCache::AccountCache(const std::string& path) : file_(path) {}

const Account& AccountCache::get(Database& database, std::string_view username) {
  // Read before the query: a write that lands in between raises the counter again, so the next
  // call asks the database once more rather than trusting an account older than it looks.
  const std::optional<std::uint32_t> counter = file_.read();
  if (counter && counter == counter_ && account_.username == username) return account_;
  counter_.reset();
  account_ = getAccount(database.connection(), username);
  counter_ = counter;
  return account_;
}

}  // namespace relaydash
