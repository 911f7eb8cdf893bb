// Derivation of the per-drive AES-256 key from the drive's identifier.
#pragma once

#include <cstdint>

#include "connector/engine/crypto/aes256.h"

namespace kx7 {

constexpr uint8_t kDriveIdentifierLength = 16;

// The key is the SHA-256 digest of the first `length` bytes of `identifier`. The length is an
// 8-bit count on purpose, matching what the drives themselves do: a caller that hands in 256
// gets it truncated to 0, so nothing is hashed and the key is the digest of the empty string.
// Call sites pass kDriveIdentifierLength.
void DeriveDriveKey(const uint8_t* identifier, uint8_t length, uint8_t key[kAes256KeySize]);

}  // namespace kx7
