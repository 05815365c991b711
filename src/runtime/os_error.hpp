#pragma once

#include <stdexcept>
#include <string>

namespace relaydash {

// An operating-system failure: the system's text for the error number, and the number.
class OSError : public std::runtime_error {
 public:
  explicit OSError(int errorCode);
  OSError(int errorCode, const std::string& message);

  int errorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// Raises OSError for the current errno.
[[noreturn]] void raiseOSError();

}  // namespace relaydash
