// AES-256 decryption (inverse cipher). Only the drive simulator needs it: the connector itself
// never decrypts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connector/engine/crypto/aes256.h"

namespace kx7 {

// Decrypts one 16-byte block. `in` and `out` may be the same buffer.
void Aes256DecryptBlock(uint8_t out[kAesBlockSize], const uint8_t in[kAesBlockSize],
                        const uint8_t key[kAes256KeySize]);

// The inverse of Aes256EncryptEcb, with the same rules: the key is expanded once, only whole
// blocks are processed (the trailing length % 16 bytes of `out` are left untouched), and
// `in == out` works.
void Aes256DecryptEcb(uint8_t* out, const uint8_t* in, const uint8_t key[kAes256KeySize],
                      size_t length);

}  // namespace kx7
