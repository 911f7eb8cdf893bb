#include "connector/engine/crypto/derive_key.h"

#include "connector/engine/crypto/sha256.h"

namespace kx7 {

static_assert(kSha256DigestSize == kAes256KeySize, "the digest is used as the key unchanged");

void DeriveDriveKey(const uint8_t* identifier, uint8_t length, uint8_t key[kAes256KeySize]) {
    Sha256Digest(identifier, length, key);
}

}  // namespace kx7
