#include "ctx.hpp"

#include <utility>

#include "crypto/chachapoly.hpp"
#include "model/account_model.hpp"

namespace relaydash {
std::shared_ptr<Context> newContext(std::string forwarderConfigPath,
                                    std::string forwarderUnitServiceName, std::string dataPath) {
  Buffer secret = genChachapolyKey();
  Db db = open(dataPath);
  return std::make_shared<Context>(Context{std::move(forwarderConfigPath),
                                           std::move(forwarderUnitServiceName), std::move(dataPath),
                                           std::move(secret), std::move(db)});
}

void init(const Context& ctx) {
  exec(ctx.db, kCreateAccountTable);
  // Any account, whatever its name, means the database has been set up before: an operator who
  // renamed or replaced the administrator must not find it back after a restart.
  if (!getAllRows(ctx.db, "select * from account limit 1").empty()) return;
  createAccount(ctx.db, kAdminName, kAdminInitialPassword);
}

}  // namespace relaydash
