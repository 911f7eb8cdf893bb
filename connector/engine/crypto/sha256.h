// SHA-256 message digest, used to turn a drive's identifier into its AES key.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx7 {

constexpr size_t kSha256DigestSize = 32;
constexpr size_t kSha256BlockSize = 64;

// Running state of one digest. Plain data so that callers keep it on their own stack and no
// two threads ever share hidden state.
struct Sha256Context {
    uint32_t state[8];
    uint64_t total_bytes;  // message length so far; the padding needs it in bits
    uint8_t buffer[kSha256BlockSize];
    size_t buffered;  // bytes of `buffer` waiting for a full block
};

void Sha256Init(Sha256Context* context);

// `data` may be null when `length` is 0.
void Sha256Update(Sha256Context* context, const uint8_t* data, size_t length);

// Writes the digest and wipes the context; call Sha256Init again before reusing it.
void Sha256Final(Sha256Context* context, uint8_t digest[kSha256DigestSize]);

// One-shot digest of a single buffer.
void Sha256Digest(const uint8_t* data, size_t length, uint8_t digest[kSha256DigestSize]);

}  // namespace kx7
