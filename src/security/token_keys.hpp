#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>

#include "crypto/buffer.hpp"
#include "json/value.hpp"
#include "security/security_clock.hpp"

namespace relaydash {

// A token that opens but was issued longer ago than a session lasts.
class ExpiredTokenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The keys that seal auth tokens, and with them how long a token is good for. A token carries
// neither a time nor the name of its key, so the time is kept here: a key seals the tokens of a
// short while only (kRotation), and a token counts as issued when its key sealed its last one.
// It is accepted for kLifetime from then, refused as expired for kExpiredKept more, and after
// that its key is forgotten and the token is as invalid as one never issued. Keys live in memory
// only: after a restart every earlier token is invalid.
class TokenKeys {
 public:
  using TimePoint = SecurityClock::time_point;

  static constexpr std::chrono::hours kLifetime{12};
  // Also how late a token may be refused: one sealed first by its key lives up to
  // kLifetime + kRotation.
  static constexpr std::chrono::minutes kRotation{10};
  static constexpr std::chrono::hours kExpiredKept = kLifetime;
  // A new key comes at most once a kRotation, so this many are ever kept; a token that no key
  // opens costs one attempt per key.
  static constexpr std::size_t kMaxKeys = (kLifetime + kExpiredKept) / kRotation + 1;

  // A token for payload, sealed with the current key, or with a fresh one when the current key
  // has sealed for kRotation or a password change ended it.
  std::string issue(const JsonNode& payload, TimePoint now);

  // The payload of a token issued here. Raises BufferValueError for text that is not padded
  // base64; InvalidTokenError for a token that no key opens (altered, forged, from an earlier
  // run, its key forgotten) or whose session a password change ended; ExpiredTokenError for a
  // token older than kLifetime.
  JsonNodePtr open(std::string_view token, TimePoint now);

  // Ends every session but that of token: the keys of every other token are dropped, and token's
  // own key from now on opens that token alone. The next token gets a fresh key. A token that
  // does not open ends with the others. Raises BufferValueError for text that is not base64.
  void endSessionsBut(std::string_view token, TimePoint now);

  std::size_t keyCount() const noexcept { return keys_.size(); }

 private:
  struct Key {
    Buffer secret;
    TimePoint firstSealed;
    TimePoint lastSealed;
    // A key whose sessions a password change ended seals nothing more and opens only the token
    // that made the change, the one with this nonce.
    bool ended = false;
    std::string survivorNonce;
  };
  struct Located {
    JsonNodePtr payload;
    Key* key = nullptr;  // null when no key opens the token
    std::string nonce;
  };

  Located locate(std::string_view token);
  static bool opensFor(const Key& key, std::string_view nonce) noexcept;
  void forgetOld(TimePoint now);

  std::deque<Key> keys_;  // oldest first
};

}  // namespace relaydash
