#include "security/token_keys.hpp"

#include <utility>

#include "crypto/chachapoly.hpp"
#include "security/token_seal.hpp"

namespace relaydash {

std::string TokenKeys::issue(const JsonNode& payload, TimePoint now) {
  forgetOld(now);
  if (keys_.empty() || keys_.back().ended || now - keys_.back().firstSealed >= kRotation) {
    keys_.push_back(Key{genChachapolyKey(), now, now, false, {}});
  }
  Key& key = keys_.back();
  key.lastSealed = now;
  return encodeAuthToken(key.secret, payload);
}

JsonNodePtr TokenKeys::open(std::string_view token, TimePoint now) {
  forgetOld(now);
  Located found = locate(token);
  if (found.key == nullptr) throw invalidMac(token);
  // An ended session is invalid however old it is: it did not merely run out.
  if (!opensFor(*found.key, found.nonce)) {
    throw InvalidTokenError("Ended by a password change: " + std::string(token));
  }
  if (now - found.key->lastSealed >= kLifetime) {
    throw ExpiredTokenError("Expired: " + std::string(token));
  }
  return std::move(found.payload);
}

void TokenKeys::endSessionsBut(std::string_view token, TimePoint now) {
  forgetOld(now);
  Located found = locate(token);
  if (found.key == nullptr || !opensFor(*found.key, found.nonce)) {
    keys_.clear();
    return;
  }
  Key kept = std::move(*found.key);
  kept.ended = true;
  kept.survivorNonce = std::move(found.nonce);
  keys_.clear();
  keys_.push_back(std::move(kept));
}

TokenKeys::Located TokenKeys::locate(std::string_view token) {
  const SealedToken sealed = splitAuthToken(token);
  // Newest first: the tokens in use are mostly recent ones.
  for (auto key = keys_.rbegin(); key != keys_.rend(); ++key) {
    if (JsonNodePtr payload = openAuthToken(key->secret, sealed, token)) {
      return {std::move(payload), &*key, toString(sealed.nonce)};
    }
  }
  return {};
}

bool TokenKeys::opensFor(const Key& key, std::string_view nonce) noexcept {
  return !key.ended || nonce == key.survivorNonce;
}

void TokenKeys::forgetOld(TimePoint now) {
  // Keys seal one after the other, so the oldest key is also the one that sealed last longest ago.
  while (!keys_.empty() && now - keys_.front().lastSealed >= kLifetime + kExpiredKept) {
    keys_.pop_front();
  }
}

}  // namespace relaydash
