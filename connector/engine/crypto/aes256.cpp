#include "connector/engine/crypto/aes256.h"

#include <cstring>

#include "connector/engine/crypto/aes256_key_schedule.h"
#include "connector/engine/crypto/secure_zero.h"

namespace kx7 {
namespace aes_internal {

void ExpandKey(const uint8_t key[kAes256KeySize], KeySchedule* schedule) {
    // Works on 4-byte words: each new word is the one 8 words back XOR the previous word,
    // which is first rotated, substituted and given a round constant at the start of every
    // 8-word group, and only substituted half-way through it.
    uint8_t* words = schedule->bytes;
    std::memcpy(words, key, kAes256KeySize);
    uint8_t round_constant = 0x01;
    for (size_t i = kAes256KeySize / 4; i < kScheduleSize / 4; ++i) {
        uint8_t temp[4];
        std::memcpy(temp, words + 4 * (i - 1), 4);
        if (i % 8 == 0) {
            const uint8_t first = temp[0];
            temp[0] = static_cast<uint8_t>(kSbox[temp[1]] ^ round_constant);
            temp[1] = kSbox[temp[2]];
            temp[2] = kSbox[temp[3]];
            temp[3] = kSbox[first];
            round_constant = Xtime(round_constant);
        } else if (i % 8 == 4) {
            for (uint8_t& byte : temp) {
                byte = kSbox[byte];
            }
        }
        for (size_t j = 0; j < 4; ++j) {
            words[4 * i + j] = static_cast<uint8_t>(words[4 * (i - 8) + j] ^ temp[j]);
        }
    }
}

}  // namespace aes_internal

namespace {

using aes_internal::AddRoundKey;
using aes_internal::KeySchedule;
using aes_internal::kRounds;
using aes_internal::kSbox;
using aes_internal::Xtime;

// The state is column-major: byte (row r, column c) sits at index r + 4 c, as in the input.
void SubBytesShiftRows(uint8_t state[kAesBlockSize]) {
    uint8_t shifted[kAesBlockSize];
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            shifted[row + 4 * column] = kSbox[state[row + 4 * ((column + row) % 4)]];
        }
    }
    std::memcpy(state, shifted, kAesBlockSize);
}

void MixColumns(uint8_t state[kAesBlockSize]) {
    for (int column = 0; column < 4; ++column) {
        uint8_t* a = state + 4 * column;
        const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        const uint8_t all = static_cast<uint8_t>(a0 ^ a1 ^ a2 ^ a3);
        a[0] = static_cast<uint8_t>(a0 ^ all ^ Xtime(static_cast<uint8_t>(a0 ^ a1)));
        a[1] = static_cast<uint8_t>(a1 ^ all ^ Xtime(static_cast<uint8_t>(a1 ^ a2)));
        a[2] = static_cast<uint8_t>(a2 ^ all ^ Xtime(static_cast<uint8_t>(a2 ^ a3)));
        a[3] = static_cast<uint8_t>(a3 ^ all ^ Xtime(static_cast<uint8_t>(a3 ^ a0)));
    }
}

void EncryptWithSchedule(const KeySchedule& schedule, const uint8_t* in, uint8_t* out) {
    // Copying into a local state first is what makes in == out safe.
    uint8_t state[kAesBlockSize];
    std::memcpy(state, in, kAesBlockSize);
    AddRoundKey(state, schedule, 0);
    for (int round = 1; round < kRounds; ++round) {
        SubBytesShiftRows(state);
        MixColumns(state);
        AddRoundKey(state, schedule, round);
    }
    SubBytesShiftRows(state);
    AddRoundKey(state, schedule, kRounds);
    std::memcpy(out, state, kAesBlockSize);
    SecureZero(state, sizeof(state));
}

}  // namespace

void Aes256EncryptBlock(uint8_t out[kAesBlockSize], const uint8_t in[kAesBlockSize],
                        const uint8_t key[kAes256KeySize]) {
    Aes256EncryptEcb(out, in, key, kAesBlockSize);
}

void Aes256EncryptEcb(uint8_t* out, const uint8_t* in, const uint8_t key[kAes256KeySize],
                      size_t length) {
    aes_internal::RunEcb(key, in, out, length, EncryptWithSchedule);
}

}  // namespace kx7
