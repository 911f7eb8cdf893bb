#include "connector/engine/crypto/aes256_inverse.h"

#include <cstring>

#include "connector/engine/crypto/aes256_key_schedule.h"
#include "connector/engine/crypto/secure_zero.h"

namespace kx7 {
namespace {

using aes_internal::AddRoundKey;
using aes_internal::KeySchedule;
using aes_internal::kInverseSbox;
using aes_internal::kRounds;
using aes_internal::Xtime;

void InverseShiftRowsSubBytes(uint8_t state[kAesBlockSize]) {
    uint8_t shifted[kAesBlockSize];
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            shifted[row + 4 * ((column + row) % 4)] = kInverseSbox[state[row + 4 * column]];
        }
    }
    std::memcpy(state, shifted, kAesBlockSize);
}

void InverseMixColumns(uint8_t state[kAesBlockSize]) {
    // The inverse matrix {0e 0b 0d 09} factors into the forward one times {05 00 04 00}, so
    // each column is first folded with 4 (a0 ^ a2) and 4 (a1 ^ a3), then mixed forward.
    for (int column = 0; column < 4; ++column) {
        uint8_t* a = state + 4 * column;
        const uint8_t even = Xtime(Xtime(static_cast<uint8_t>(a[0] ^ a[2])));
        const uint8_t odd = Xtime(Xtime(static_cast<uint8_t>(a[1] ^ a[3])));
        const uint8_t a0 = static_cast<uint8_t>(a[0] ^ even);
        const uint8_t a1 = static_cast<uint8_t>(a[1] ^ odd);
        const uint8_t a2 = static_cast<uint8_t>(a[2] ^ even);
        const uint8_t a3 = static_cast<uint8_t>(a[3] ^ odd);
        const uint8_t all = static_cast<uint8_t>(a0 ^ a1 ^ a2 ^ a3);
        a[0] = static_cast<uint8_t>(a0 ^ all ^ Xtime(static_cast<uint8_t>(a0 ^ a1)));
        a[1] = static_cast<uint8_t>(a1 ^ all ^ Xtime(static_cast<uint8_t>(a1 ^ a2)));
        a[2] = static_cast<uint8_t>(a2 ^ all ^ Xtime(static_cast<uint8_t>(a2 ^ a3)));
        a[3] = static_cast<uint8_t>(a3 ^ all ^ Xtime(static_cast<uint8_t>(a3 ^ a0)));
    }
}

void DecryptWithSchedule(const KeySchedule& schedule, const uint8_t* in, uint8_t* out) {
    uint8_t state[kAesBlockSize];
    std::memcpy(state, in, kAesBlockSize);
    AddRoundKey(state, schedule, kRounds);
    for (int round = kRounds - 1; round > 0; --round) {
        InverseShiftRowsSubBytes(state);
        AddRoundKey(state, schedule, round);
        InverseMixColumns(state);
    }
    InverseShiftRowsSubBytes(state);
    AddRoundKey(state, schedule, 0);
    std::memcpy(out, state, kAesBlockSize);
    SecureZero(state, sizeof(state));
}

}  // namespace

void Aes256DecryptBlock(uint8_t out[kAesBlockSize], const uint8_t in[kAesBlockSize],
                        const uint8_t key[kAes256KeySize]) {
    Aes256DecryptEcb(out, in, key, kAesBlockSize);
}

void Aes256DecryptEcb(uint8_t* out, const uint8_t* in, const uint8_t key[kAes256KeySize],
                      size_t length) {
    aes_internal::RunEcb(key, in, out, length, DecryptWithSchedule);
}

}  // namespace kx7
