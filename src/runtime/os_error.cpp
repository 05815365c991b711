#include "runtime/os_error.hpp"

#include <cerrno>
#include <cstring>

namespace relaydash {

OSError::OSError(int errorCode) : OSError(errorCode, std::strerror(errorCode)) {}

OSError::OSError(int errorCode, const std::string& message)
    : std::runtime_error(message), errorCode_(errorCode) {}

void raiseOSError() {
  throw OSError(errno);
}

}  // namespace relaydash
