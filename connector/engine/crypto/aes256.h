// AES-256 encryption (forward cipher) of the data a drive stores. The connector only ever
// encrypts; the inverse cipher lives in aes256_inverse.h for the drive simulator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx7 {

constexpr size_t kAes256KeySize = 32;
constexpr size_t kAesBlockSize = 16;

// Encrypts one 16-byte block. `in` and `out` may be the same buffer. The key is expanded on
// every call, so use Aes256EncryptEcb for more than a block or two.
void Aes256EncryptBlock(uint8_t out[kAesBlockSize], const uint8_t in[kAesBlockSize],
                        const uint8_t key[kAes256KeySize]);

// Encrypts `length` bytes as independent blocks (ECB), expanding the key once. Only whole
// blocks are encrypted: when `length` is not a multiple of 16 the trailing length % 16 bytes
// of `out` are neither read from `in` nor written, so an in-place call leaves the tail as it
// was. `in == out` works; other overlaps do not. All state lives on the caller's stack, so
// calls from several threads at once are safe.
void Aes256EncryptEcb(uint8_t* out, const uint8_t* in, const uint8_t key[kAes256KeySize],
                      size_t length);

}  // namespace kx7
