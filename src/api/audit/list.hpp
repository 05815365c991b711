#pragma once

#include <span>

#include "api/procedure.hpp"

namespace relaydash {

// audit/list: the trail, newest first, a page at a time. Input (all optional):
// {"limit": rows, 1 to kMaxAuditPage (default kDefaultAuditPage), "before": id}; answers
// {"entries": [{"id","time","peer","user","action","outcome","version","count","lastTime"}],
// "more": bool}, where "more" tells whether older rows follow (ask again with "before" set to the
// last id).
std::span<const Procedure> auditProcedures();

inline constexpr int kDefaultAuditPage = 50;
inline constexpr int kMaxAuditPage = 500;

}  // namespace relaydash
