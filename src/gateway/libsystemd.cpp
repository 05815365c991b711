#include "gateway/libsystemd.hpp"

namespace relaydash {

std::unique_ptr<LoadedLibsystemd> openLibsystemd(std::initializer_list<const char*> names,
                                                 std::string& why) {
  auto loaded = std::make_unique<LoadedLibsystemd>();
  loaded->library = SharedLibrary::open(names);
  if (!loaded->library) {
    why = "could not load: " + libraryNamePattern(names);
    return nullptr;
  }
  Libsystemd& f = loaded->functions;
  bool complete = true;
  const auto take = [&](const char* name, auto*& slot) {
    if (complete && !import(loaded->library, name, slot)) {
      why = std::string("could not import: ") + name;
      complete = false;
    }
  };
  take("sd_bus_open_system", f.openSystem);
  take("sd_bus_close", f.close);
  take("sd_bus_unref", f.unref);
  take("sd_bus_is_open", f.isOpen);
  take("sd_bus_get_fd", f.getFd);
  take("sd_bus_get_events", f.getEvents);
  take("sd_bus_get_timeout", f.getTimeout);
  take("sd_bus_process", f.process);
  take("sd_bus_message_new_method_call", f.newMethodCall);
  take("sd_bus_message_append_basic", f.appendBasic);
  take("sd_bus_call_async", f.callAsync);
  take("sd_bus_slot_unref", f.slotUnref);
  take("sd_bus_message_ref", f.messageRef);
  take("sd_bus_message_unref", f.messageUnref);
  take("sd_bus_message_is_method_error", f.isMethodError);
  take("sd_bus_message_get_error", f.getError);
  take("sd_bus_message_enter_container", f.enterContainer);
  take("sd_bus_message_exit_container", f.exitContainer);
  take("sd_bus_message_peek_type", f.peekType);
  take("sd_bus_message_read_basic", f.readBasic);
  take("sd_bus_message_skip", f.skip);
  take("sd_bus_path_encode", f.pathEncode);
  if (!complete) return nullptr;
  return loaded;
}

const Libsystemd* libsystemd(std::string& why) {
  // Tried once: a library that is not there now will not appear while the program runs. Never
  // unloaded, so that the bus connection, a static too, may be closed at exit whatever the
  // order statics are destroyed in.
  static std::string reason;
  static const LoadedLibsystemd* const loaded =
      openLibsystemd({"libsystemd.so.0"}, reason).release();
  why = reason;
  return loaded ? &loaded->functions : nullptr;
}

}  // namespace relaydash
