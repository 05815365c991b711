#include "loader/shared_library.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace relaydash {

SharedLibrary SharedLibrary::open(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (void* handle = ::dlopen(name, RTLD_NOW)) return SharedLibrary(handle);
  }
  return SharedLibrary();
}

void* SharedLibrary::symbol(const char* name) const noexcept {
  return handle_ == nullptr ? nullptr : ::dlsym(handle_, name);
}

void SharedLibrary::reset(void* handle) noexcept {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = handle;
}

std::string libraryNamePattern(std::initializer_list<const char*> names) {
  if (names.size() == 0) return {};
  const std::string_view base = *names.begin();
  if (names.size() == 1) return std::string(base);
  std::string pattern(base);
  pattern += '(';
  bool first = true;
  for (std::string_view name : names) {
    if (!first) pattern += '|';
    first = false;
    if (name.starts_with(base)) name.remove_prefix(base.size());
    pattern += name;
  }
  pattern += ')';
  return pattern;
}

SharedLibrary loadLibraryOrExit(std::initializer_list<const char*> names) {
  SharedLibrary library = SharedLibrary::open(names);
  if (!library) {
    std::fprintf(stderr, "could not load: %s\n", libraryNamePattern(names).c_str());
    std::exit(1);
  }
  return library;
}

void exitCouldNotImport(const char* name) {
  std::fprintf(stderr, "could not import: %s\n", name);
  std::exit(1);
}

}  // namespace relaydash
