#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace relaydash {

// Owns one handle of dlopen and closes it when it goes away. Move-only.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  SharedLibrary& operator=(SharedLibrary&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ~SharedLibrary() { reset(); }

  // Opens the first of the names that loads, with every symbol bound at once so that a broken
  // library fails here rather than at its first call. An empty owner when none loads.
  static SharedLibrary open(std::initializer_list<const char*> names);

  bool loaded() const noexcept { return handle_ != nullptr; }
  explicit operator bool() const noexcept { return loaded(); }

  // The address of a symbol, or null when the library lacks it.
  void* symbol(const char* name) const noexcept;

 private:
  explicit SharedLibrary(void* handle) noexcept : handle_(handle) {}
  void reset(void* handle = nullptr) noexcept;

  void* handle_ = nullptr;
};

// The names a library is tried under, written as one pattern for messages: the first name, then
// the other names' suffixes in parentheses, "libsqlite3.so(|.0)" for "libsqlite3.so" and
// "libsqlite3.so.0".
std::string libraryNamePattern(std::initializer_list<const char*> names);

// Start-up loading: a library or function that is missing ends the process with status 1 after
// "could not load: " with the name pattern, or "could not import: " with the function's name, on
// standard error.
SharedLibrary loadLibraryOrExit(std::initializer_list<const char*> names);

[[noreturn]] void exitCouldNotImport(const char* name);

// Resolves one function into its slot of a library's function table: false, the slot untouched,
// when the library lacks it.
template <typename Function>
bool import(const SharedLibrary& library, const char* name, Function*& slot) {
  void* address = library.symbol(name);
  if (address == nullptr) return false;
  slot = reinterpret_cast<Function*>(address);
  return true;
}

// The same at start-up: a missing function ends the process.
template <typename Function>
void importOrExit(const SharedLibrary& library, const char* name, Function*& slot) {
  if (!import(library, name, slot)) exitCouldNotImport(name);
}

}  // namespace relaydash
