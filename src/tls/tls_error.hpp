#pragma once

#include <stdexcept>

namespace relaydash {

// HTTPS cannot be set up as asked: a certificate or key that cannot be read, made or used.
class TlsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace relaydash
