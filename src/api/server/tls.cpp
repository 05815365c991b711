#include <array>

#include "api/context.hpp"
#include "api/server/server.hpp"
#include "tls/tls_server.hpp"

namespace relaydash {
namespace {

JsonNodePtr tlsJson(const TlsSummary& tls, bool secure) {
  JsonNodePtr out = newJObject();
  out->set("https", newJBool(tls.https));
  if (tls.https) {
    out->set("fingerprint", newJString(tls.certificate.fingerprint));
    out->set("certificate",
             newJString(tls.source == CertificateSource::Installed ? "installed" : "generated"));
    JsonNodePtr names = newJArray();
    for (const std::string& name : tls.certificate.names)
      names->add(newJString(name));
    out->set("names", std::move(names));
    out->set("notAfter", newJInt(tls.certificate.notAfter));
  } else {
    out->set("why", newJString(tls.why));
  }
  out->set("redirect", newJBool(tls.https && tls.redirect));
  out->set("secure", newJBool(secure));
  return out;
}

Task<JsonNodePtr> server_tls(Call& call) {
  static const TlsSummary kOff{false, "HTTPS is not set up in this server", {}, {}, false};
  const TlsSummary& tls = call.context.tls ? *call.context.tls : kOff;
  co_return tlsJson(tls, call.session.request.secure);
}

constexpr std::array kProcedures{
    Procedure{"server/tls", server_tls, Access::Open},
};

}  // namespace

std::span<const Procedure> serverProcedures() {
  return kProcedures;
}

}  // namespace relaydash
