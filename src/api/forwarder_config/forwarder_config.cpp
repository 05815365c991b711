#include "api/forwarder_config/forwarder_config.hpp"

#include <array>

namespace relaydash {
namespace {

constexpr std::array kProcedures{
    Procedure{"forwarder-config/get",
              forwarderConfig_get,
              Access::SignedIn,
              {},
              AuditFrom::None,
              ErrorAnswers::Generic},
    Procedure{"forwarder-config/patch", forwarderConfig_patch, Access::SignedIn, kAuditConfigPatch,
              AuditFrom::Whole, ErrorAnswers::Generic},
    // Their own audit rows name the action only once they know it (an apply, a restore of a
    // version or of a whole file), when the change is tried.
    Procedure{"forwarder-config/apply", forwarderConfig_apply, Access::SignedIn, kAuditConfigApply,
              AuditFrom::Attempt},
    Procedure{"forwarder-config/restore", forwarderConfig_restore, Access::SignedIn,
              kAuditConfigRestore, AuditFrom::Attempt},
    Procedure{"forwarder-config/upload", forwarderConfig_upload},
    Procedure{"forwarder-config/progress", forwarderConfig_progress},
    Procedure{"forwarder-config/text", forwarderConfig_text},
    Procedure{"forwarder-config/history", forwarderConfig_history},
    Procedure{"forwarder-config/version", forwarderConfig_version},
    Procedure{"forwarder-config/plans", forwarderConfig_plans},
};

}  // namespace

std::span<const Procedure> forwarderConfigProcedures() {
  return kProcedures;
}

}  // namespace relaydash
