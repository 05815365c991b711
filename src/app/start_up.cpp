#include "app/start_up.hpp"

#include <utility>

#include "api/account/initial_password.hpp"
#include "api/audit/audit.hpp"
#include "api/forwarder_config/changes.hpp"
#include "api/gateway/status_reads.hpp"
#include "gateway/atomic_file.hpp"
#include "gateway/config_change.hpp"
#include "model/account_model.hpp"
#include "model/audit_log.hpp"
#include "model/compaction.hpp"
#include "model/metrics_key_table.hpp"

namespace relaydash {

std::string stateFolderFor(const std::string& dataPath) {
  const std::size_t slash = dataPath.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : dataPath.substr(0, slash);
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::shared_ptr<Context> newContext(std::string forwarderConfigPath,
                                    std::string forwarderUnitServiceName, std::string dataPath) {
  auto ctx = std::make_shared<Context>();
  ctx->forwarderConfigPath = std::move(forwarderConfigPath);
  ctx->forwarderUnitServiceName = std::move(forwarderUnitServiceName);
  ctx->database.open(dataPath);
  ctx->accounts = AccountCache(dataPath);
  ctx->dataPath = std::move(dataPath);
  ctx->configChanges = std::make_shared<ConfigChanges>(ChangeSettings{
      .configPath = ctx->forwarderConfigPath,
      .unit = ctx->forwarderUnitServiceName,
      .historyDirectory = stateFolderFor(ctx->dataPath) + "history",
  });
  ctx->statusReads =
      std::make_shared<StatusReads>(ctx->forwarderUnitServiceName, ctx->forwarderConfigPath);
  return ctx;
}

void init(Context& ctx) {
  const Db& db = ctx.database.connection();
  exec(db, kCreateAccountTable);
  createAuditLog(db);
  createMetricsKeyTable(db);
  // Rows of changes that a stop of relaydash cut short.
  settleAuditRows(db, kAuditPending, kAuditInterrupted);
  useIncrementalVacuum(db);
  // Any account, whatever its name, means the database has been set up before: an operator who
  // renamed or replaced the administrator must not find it back after a restart.
  if (!getAllRows(db, "select * from account limit 1").empty()) return;
  createAccount(db, kAdminName, firstPassword(ctx));
}

std::vector<std::string> removeInterruptedWrites(Context& ctx) {
  ConfigChanges& changes = configChanges(ctx);
  std::vector<std::string> problems = removeLeftoverFiles(changes.settings().configPath);
  for (std::string& problem : changes.history().removeLeftovers())
    problems.push_back(std::move(problem));
  return problems;
}

}  // namespace relaydash
