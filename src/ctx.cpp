#include "ctx.hpp"

#include <utility>

#include "model/account_model.hpp"
#include "model/audit_log.hpp"

namespace relaydash {

std::shared_ptr<Context> newContext(std::string forwarderConfigPath,
                                    std::string forwarderUnitServiceName, std::string dataPath) {
  auto ctx = std::make_shared<Context>();
  ctx->forwarderConfigPath = std::move(forwarderConfigPath);
  ctx->forwarderUnitServiceName = std::move(forwarderUnitServiceName);
  ctx->db = open(dataPath);
  ctx->accounts = AccountCache(dataPath);
  ctx->dataPath = std::move(dataPath);
  return ctx;
}

void init(const Context& ctx) {
  exec(ctx.db, kCreateAccountTable);
  createAuditLog(ctx.db);
  // Any account, whatever its name, means the database has been set up before: an operator who
  // renamed or replaced the administrator must not find it back after a restart.
  if (!getAllRows(ctx.db, "select * from account limit 1").empty()) return;
  createAccount(ctx.db, kAdminName, kAdminInitialPassword);
}

}  // namespace relaydash
