#pragma once

#include <optional>

#include "crypto/buffer.hpp"

namespace relaydash {

// A fresh random 12-byte salt, used as the BLAKE2b key of a password hash.
Buffer genBlake2bSalt();

// The BLAKE2b hash of data, keyed with key when there is one, of the library's smallest output
// size (16 bytes). A key longer than the library accepts (64 bytes) is a programming error and
// raises std::logic_error.
Buffer blake2b(const Buffer& data, const std::optional<Buffer>& key = std::nullopt);

}  // namespace relaydash
