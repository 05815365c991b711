#pragma once

#include <span>

#include "api/procedure.hpp"

namespace relaydash {

// login/password (the one procedure open to anyone: a token for the administrator's password)
// and password/update (a new password for the signed-in administrator, ending other sessions).
std::span<const Procedure> accountProcedures();

}  // namespace relaydash
