#include "connector/engine/crypto/derive_key.h"

#include <gtest/gtest.h>

#include <cstring>

#include "connector/engine/crypto/sha256.h"
#include "tests/native/crypto/rsp_reader.h"

namespace kx7 {
namespace {

using test::EncodeHex;

constexpr const char* kEmptyDigest =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(DeriveDriveKey, KeyIsDigestOfTheSixteenByteIdentifier) {
    uint8_t identifier[kDriveIdentifierLength];
    for (size_t i = 0; i < sizeof(identifier); ++i) {
        identifier[i] = static_cast<uint8_t>(i);
    }
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(identifier, kDriveIdentifierLength, key);
    // Digest of 00 01 .. 0f computed independently of this code.
    EXPECT_EQ(EncodeHex(key, sizeof(key)),
              "be45cb2605bf36bebde684841a28f0fd43c69850a3dce5fedba69928ee3a8991");
}

TEST(DeriveDriveKey, HashesOnlyTheGivenNumberOfBytes) {
    uint8_t identifier[kDriveIdentifierLength];
    std::memset(identifier, 0x5a, sizeof(identifier));
    uint8_t shorter[kAes256KeySize];
    uint8_t expected[kAes256KeySize];
    DeriveDriveKey(identifier, 15, shorter);
    Sha256Digest(identifier, 15, expected);
    EXPECT_EQ(EncodeHex(shorter, sizeof(shorter)), EncodeHex(expected, sizeof(expected)));

    uint8_t full[kAes256KeySize];
    DeriveDriveKey(identifier, kDriveIdentifierLength, full);
    EXPECT_NE(EncodeHex(shorter, sizeof(shorter)), EncodeHex(full, sizeof(full)));
}

TEST(DeriveDriveKey, LengthOf256WrapsToZeroAndHashesNothing) {
    // A caller holding the length in a wider integer loses the high bits at the call, exactly
    // as the drives do; the buffer is larger than 256 bytes so that a reading of 256 bytes
    // would be possible, and would produce a different key.
    uint8_t identifier[300];
    std::memset(identifier, 0x11, sizeof(identifier));
    int caller_length = 256;
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(identifier, caller_length, key);
    EXPECT_EQ(EncodeHex(key, sizeof(key)), kEmptyDigest);

    caller_length = 257;
    uint8_t one_byte[kAes256KeySize];
    uint8_t expected[kAes256KeySize];
    DeriveDriveKey(identifier, caller_length, one_byte);
    Sha256Digest(identifier, 1, expected);
    EXPECT_EQ(EncodeHex(one_byte, sizeof(one_byte)), EncodeHex(expected, sizeof(expected)));
}

}  // namespace
}  // namespace kx7
