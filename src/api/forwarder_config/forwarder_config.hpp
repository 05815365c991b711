#pragma once

#include <span>

#include "api/input.hpp"
#include "api/procedure.hpp"
#include "gateway/frequency_plan.hpp"

namespace relaydash {

// The forwarder's configuration: read and patched as the API first did (forwarder-config/get and
// /patch), changed safely (/apply and /restore: checked, kept in the history, written, the
// forwarder restarted and watched, rolled back when it breaks the gateway; /upload of a whole
// file in pieces, /progress of a change), and its history (/history, /version, and the file as
// text, /text).
std::span<const Procedure> forwarderConfigProcedures();

// The procedures, by file.
Task<JsonNodePtr> forwarderConfig_get(Call& call);       // read.cpp: forwarder-config/get
Task<JsonNodePtr> forwarderConfig_patch(Call& call);     // read.cpp: forwarder-config/patch
Task<JsonNodePtr> forwarderConfig_apply(Call& call);     // change.cpp: forwarder-config/apply
Task<JsonNodePtr> forwarderConfig_restore(Call& call);   // change.cpp: forwarder-config/restore
Task<JsonNodePtr> forwarderConfig_upload(Call& call);    // change.cpp: forwarder-config/upload
Task<JsonNodePtr> forwarderConfig_progress(Call& call);  // change.cpp: forwarder-config/progress
Task<JsonNodePtr> forwarderConfig_text(Call& call);      // history.cpp: forwarder-config/text
Task<JsonNodePtr> forwarderConfig_history(Call& call);   // history.cpp: forwarder-config/history
Task<JsonNodePtr> forwarderConfig_version(Call& call);   // history.cpp: forwarder-config/version
Task<JsonNodePtr> forwarderConfig_plans(Call& call);     // plans.cpp: forwarder-config/plans

// How long a change's watch lasts by default and at most ("settleSeconds").
inline constexpr int kDefaultSettleSeconds = 15;
inline constexpr int kMaxSettleSeconds = 120;

// The history's version number in the input's "version": 21031 when missing, 23001 "Field
// version is not a version number" when it is none.
int versionOf(const Input& input);

// The frequency plan in the input's "plan" ({"region": "US915", "subBand": 2}): 21031 when
// missing, 23001 when it is no object, 22010 "Unknown frequency plan: …" when there is none such.
const FrequencyPlan& planOf(const Input& input);

}  // namespace relaydash
