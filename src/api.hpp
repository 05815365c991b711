#pragma once

// The server's contact with the gateway: the packet forwarder's configuration file and the
// systemd units.
#include "gateway/forwarder_config.hpp"
#include "gateway/service_control.hpp"
