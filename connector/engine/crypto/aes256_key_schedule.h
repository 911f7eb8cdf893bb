// Tables and key expansion shared by the forward and inverse AES-256 ciphers. Internal to the
// crypto library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "connector/engine/crypto/aes256.h"
#include "connector/engine/crypto/secure_zero.h"

namespace kx7 {
namespace aes_internal {

constexpr int kRounds = 14;
constexpr size_t kScheduleSize = kAesBlockSize * (kRounds + 1);

// Round key r occupies bytes [16 r, 16 r + 16).
struct KeySchedule {
    uint8_t bytes[kScheduleSize];
};

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, without a branch on the data.
constexpr uint8_t Xtime(uint8_t value) {
    return static_cast<uint8_t>((value << 1) ^ ((value >> 7) * 0x1b));
}

constexpr uint8_t RotateLeft8(uint8_t value, unsigned count) {
    return static_cast<uint8_t>((value << count) | (value >> (8 - count)));
}

// The S-box is computed at compile time from its definition (multiplicative inverse followed
// by the affine map) rather than typed in, so no transcription slip can hide in 256 constants.
// The inverses come from powers of the generator 3.
constexpr std::array<uint8_t, 256> MakeSbox() {
    std::array<uint8_t, 256> power{};
    std::array<uint8_t, 256> logarithm{};
    uint8_t value = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = value;
        logarithm[value] = static_cast<uint8_t>(i);
        value = static_cast<uint8_t>(value ^ Xtime(value));  // times 3
    }
    std::array<uint8_t, 256> sbox{};
    for (int x = 0; x < 256; ++x) {
        const uint8_t inverse = x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
        sbox[x] = static_cast<uint8_t>(inverse ^ RotateLeft8(inverse, 1) ^ RotateLeft8(inverse, 2) ^
                                       RotateLeft8(inverse, 3) ^ RotateLeft8(inverse, 4) ^ 0x63);
    }
    return sbox;
}

constexpr std::array<uint8_t, 256> MakeInverseSbox(const std::array<uint8_t, 256>& sbox) {
    std::array<uint8_t, 256> inverse{};
    for (int x = 0; x < 256; ++x) {
        inverse[sbox[x]] = static_cast<uint8_t>(x);
    }
    return inverse;
}

inline constexpr std::array<uint8_t, 256> kSbox = MakeSbox();
inline constexpr std::array<uint8_t, 256> kInverseSbox = MakeInverseSbox(kSbox);

static_assert(kSbox[0x00] == 0x63 && kSbox[0x01] == 0x7c && kSbox[0x53] == 0xed &&
                  kSbox[0xff] == 0x16,
              "S-box generation is wrong");
static_assert(kInverseSbox[0x63] == 0x00 && kInverseSbox[0xed] == 0x53, "inverse S-box is wrong");

// Expands the 32-byte key into the 15 round keys.
void ExpandKey(const uint8_t key[kAes256KeySize], KeySchedule* schedule);

inline void AddRoundKey(uint8_t state[kAesBlockSize], const KeySchedule& schedule, int round) {
    const uint8_t* round_key = schedule.bytes + kAesBlockSize * round;
    for (size_t i = 0; i < kAesBlockSize; ++i) {
        state[i] ^= round_key[i];
    }
}

// Runs one block function over every whole block with a key schedule expanded once for the
// call; a partial tail is neither read nor written.
template <typename BlockFunction>
void RunEcb(const uint8_t key[kAes256KeySize], const uint8_t* in, uint8_t* out, size_t length,
            BlockFunction block) {
    const size_t blocks = length / kAesBlockSize;
    if (blocks == 0) {
        return;
    }
    KeySchedule schedule;
    ExpandKey(key, &schedule);
    for (size_t i = 0; i < blocks; ++i) {
        block(schedule, in + i * kAesBlockSize, out + i * kAesBlockSize);
    }
    SecureZero(&schedule, sizeof(schedule));
}

}  // namespace aes_internal
}  // namespace kx7
