#pragma once

#include <span>

#include "api/procedure.hpp"

namespace relaydash {

// server/tls: whether HTTPS is on and the certificate in use, open to anyone (it tells what
// every TLS handshake shows), so that a page loaded over plain HTTP can point to HTTPS.
std::span<const Procedure> serverProcedures();

}  // namespace relaydash
