#pragma once

// The server's contact with the gateway: the packet forwarder's configuration file and the
// systemd units.
#include "forwarder_config.hpp"
#include "service_control.hpp"
