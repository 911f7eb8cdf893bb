#include "connector/engine/crypto/sha256.h"

#include <cstring>

#include "connector/engine/crypto/secure_zero.h"

namespace kx7 {
namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline uint32_t RotateRight(uint32_t value, unsigned count) {
    return (value >> count) | (value << (32 - count));
}

inline uint32_t LoadBigEndian32(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

inline void StoreBigEndian32(uint32_t value, uint8_t* bytes) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

void CompressBlock(uint32_t state[8], const uint8_t block[kSha256BlockSize]) {
    uint32_t schedule[64];
    for (int i = 0; i < 16; ++i) {
        schedule[i] = LoadBigEndian32(block + 4 * i);
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t w15 = schedule[i - 15];
        const uint32_t w2 = schedule[i - 2];
        const uint32_t sigma0 = RotateRight(w15, 7) ^ RotateRight(w15, 18) ^ (w15 >> 3);
        const uint32_t sigma1 = RotateRight(w2, 17) ^ RotateRight(w2, 19) ^ (w2 >> 10);
        schedule[i] = schedule[i - 16] + sigma0 + schedule[i - 7] + sigma1;
    }

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t big_sigma1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const uint32_t choose = (e & f) ^ (~e & g);
        const uint32_t t1 = h + big_sigma1 + choose + kRoundConstants[i] + schedule[i];
        const uint32_t big_sigma0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = big_sigma0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
    SecureZero(schedule, sizeof(schedule));
}

}  // namespace

void Sha256Init(Sha256Context* context) {
    std::memcpy(context->state, kInitialState, sizeof(kInitialState));
    context->total_bytes = 0;
    context->buffered = 0;
}

void Sha256Update(Sha256Context* context, const uint8_t* data, size_t length) {
    if (length == 0) {
        return;  // also keeps a null `data` away from memcpy
    }
    context->total_bytes += length;

    // Top up a partly filled block first, so whole blocks can then be hashed straight from the
    // caller's buffer without copying.
    if (context->buffered > 0) {
        const size_t room = kSha256BlockSize - context->buffered;
        const size_t take = length < room ? length : room;
        std::memcpy(context->buffer + context->buffered, data, take);
        context->buffered += take;
        data += take;
        length -= take;
        if (context->buffered < kSha256BlockSize) {
            return;
        }
        CompressBlock(context->state, context->buffer);
        context->buffered = 0;
    }
    while (length >= kSha256BlockSize) {
        CompressBlock(context->state, data);
        data += kSha256BlockSize;
        length -= kSha256BlockSize;
    }
    if (length > 0) {
        std::memcpy(context->buffer, data, length);
        context->buffered = length;
    }
}

void Sha256Final(Sha256Context* context, uint8_t digest[kSha256DigestSize]) {
    const uint64_t total_bits = context->total_bytes * 8;

    // Padding: a single 1 bit, zeros, then the 64-bit length, ending on a block boundary. When
    // fewer than 9 bytes are left in the current block the length spills into one more block.
    size_t used = context->buffered;
    context->buffer[used++] = 0x80;
    if (used > kSha256BlockSize - 8) {
        std::memset(context->buffer + used, 0, kSha256BlockSize - used);
        CompressBlock(context->state, context->buffer);
        used = 0;
    }
    std::memset(context->buffer + used, 0, kSha256BlockSize - 8 - used);
    StoreBigEndian32(static_cast<uint32_t>(total_bits >> 32), context->buffer + 56);
    StoreBigEndian32(static_cast<uint32_t>(total_bits), context->buffer + 60);
    CompressBlock(context->state, context->buffer);

    for (int i = 0; i < 8; ++i) {
        StoreBigEndian32(context->state[i], digest + 4 * i);
    }
    SecureZero(context, sizeof(*context));
}

void Sha256Digest(const uint8_t* data, size_t length, uint8_t digest[kSha256DigestSize]) {
    Sha256Context context;
    Sha256Init(&context);
    Sha256Update(&context, data, length);
    Sha256Final(&context, digest);
}

}  // namespace kx7
