#pragma once

#include <string>
#include <string_view>

namespace relaydash {

struct Context;

// The systemd units the API knows, and the names a client may give them: "forwarder" (the unit
// start-up was told, --forwarderUnitServiceName) and "ssh". No text of a request ever becomes a
// unit name.

// The SSH daemon's unit.
inline constexpr std::string_view kSshUnit = "ssh";

// The unit behind a name the client may use ("forwarder" or "ssh"); a refusal (400, 23000)
// when the forwarder is asked for but is not run as a unit here.
std::string unitFor(const Context& ctx, std::string_view name);

}  // namespace relaydash
