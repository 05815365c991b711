#pragma once

#include <systemd/sd-bus.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "loader/shared_library.hpp"

namespace relaydash {

// The sd-bus functions relaydash calls, resolved from libsystemd at run time: the program does
// not link libsystemd, so it starts (and answers from systemctl) where there is none.
struct Libsystemd {
  decltype(&::sd_bus_open_system) openSystem;
  decltype(&::sd_bus_close) close;
  decltype(&::sd_bus_unref) unref;
  decltype(&::sd_bus_is_open) isOpen;
  decltype(&::sd_bus_get_fd) getFd;
  decltype(&::sd_bus_get_events) getEvents;
  decltype(&::sd_bus_get_timeout) getTimeout;
  decltype(&::sd_bus_process) process;
  decltype(&::sd_bus_message_new_method_call) newMethodCall;
  decltype(&::sd_bus_message_append_basic) appendBasic;
  decltype(&::sd_bus_call_async) callAsync;
  decltype(&::sd_bus_slot_unref) slotUnref;
  decltype(&::sd_bus_message_ref) messageRef;
  decltype(&::sd_bus_message_unref) messageUnref;
  decltype(&::sd_bus_message_is_method_error) isMethodError;
  decltype(&::sd_bus_message_get_error) getError;
  decltype(&::sd_bus_message_enter_container) enterContainer;
  decltype(&::sd_bus_message_exit_container) exitContainer;
  decltype(&::sd_bus_message_peek_type) peekType;
  decltype(&::sd_bus_message_read_basic) readBasic;
  decltype(&::sd_bus_message_skip) skip;
  decltype(&::sd_bus_path_encode) pathEncode;
};

struct LoadedLibsystemd {
  SharedLibrary library;
  Libsystemd functions{};
};

// Opens the first of the names that loads and resolves every function; null, with the reason
// in `why` ("could not load: libsystemd.so.0", "could not import: sd_bus_call_async"), when
// the library or one of its functions is missing.
std::unique_ptr<LoadedLibsystemd> openLibsystemd(std::initializer_list<const char*> names,
                                                 std::string& why);

// libsystemd.so.0, loaded at the first call and kept for the life of the process; null when it
// cannot be had, with the reason in `why`.
const Libsystemd* libsystemd(std::string& why);

}  // namespace relaydash
