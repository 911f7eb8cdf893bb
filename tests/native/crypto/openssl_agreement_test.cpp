// Cross-checks against an independent implementation on inputs no fixed vector covers.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <vector>

#include "connector/engine/crypto/aes256.h"
#include "connector/engine/crypto/aes256_inverse.h"
#include "connector/engine/crypto/sha256.h"
#include "tests/native/crypto/rsp_reader.h"

namespace kx7 {
namespace {

constexpr uint32_t kSeed = 0x6b783721;

std::vector<uint8_t> RandomBytes(std::mt19937* random, size_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>((*random)());
    }
    return bytes;
}

std::string Hex(const uint8_t* bytes, size_t length) {
    return test::EncodeHex(bytes, length);
}

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Whole-block output of the reference ECB encryption without padding.
std::vector<uint8_t> ReferenceEncrypt(const std::vector<uint8_t>& key,
                                      const std::vector<uint8_t>& plaintext) {
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    EXPECT_TRUE(context);
    EXPECT_EQ(EVP_EncryptInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key.data(), nullptr),
              1);
    EXPECT_EQ(EVP_CIPHER_CTX_set_padding(context.get(), 0), 1);
    std::vector<uint8_t> out(plaintext.size() + kAesBlockSize);
    int written = 0;
    EXPECT_EQ(EVP_EncryptUpdate(context.get(), out.data(), &written, plaintext.data(),
                                static_cast<int>(plaintext.size())),
              1);
    out.resize(static_cast<size_t>(written));
    return out;
}

TEST(OpenSslAgreement, Sha256OnRandomMessages) {
    std::mt19937 random(kSeed);
    for (int trial = 0; trial < 3000; ++trial) {
        // Mostly short messages, where the padding cases lie, and some spanning many blocks.
        const size_t length = trial % 10 == 0 ? random() % 5000 : random() % 300;
        const std::vector<uint8_t> message = RandomBytes(&random, length);

        uint8_t reference[EVP_MAX_MD_SIZE];
        unsigned int reference_length = 0;
        ASSERT_EQ(EVP_Digest(message.data(), message.size(), reference, &reference_length,
                             EVP_sha256(), nullptr),
                  1);
        ASSERT_EQ(reference_length, kSha256DigestSize);

        uint8_t digest[kSha256DigestSize];
        Sha256Digest(message.data(), message.size(), digest);
        ASSERT_EQ(Hex(digest, sizeof(digest)), Hex(reference, reference_length))
            << "one-shot, trial " << trial << ", length " << length;

        // The same message again, split at random points.
        Sha256Context context;
        Sha256Init(&context);
        size_t offset = 0;
        while (offset < message.size()) {
            const size_t take = std::min<size_t>(random() % 150, message.size() - offset);
            Sha256Update(&context, message.data() + offset, take);
            offset += take;
        }
        Sha256Final(&context, digest);
        ASSERT_EQ(Hex(digest, sizeof(digest)), Hex(reference, reference_length))
            << "split, trial " << trial << ", length " << length;
    }
}

TEST(OpenSslAgreement, Aes256EcbOnRandomKeysAndLengths) {
    std::mt19937 random(kSeed + 1);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::vector<uint8_t> key = RandomBytes(&random, kAes256KeySize);
        const size_t length = random() % 400;  // includes lengths with a partial last block
        const std::vector<uint8_t> plaintext = RandomBytes(&random, length);
        const size_t whole = length - length % kAesBlockSize;

        const std::vector<uint8_t> reference = ReferenceEncrypt(key, plaintext);
        ASSERT_EQ(reference.size(), whole);

        std::vector<uint8_t> ciphertext(length, 0xee);
        Aes256EncryptEcb(ciphertext.data(), plaintext.data(), key.data(), length);
        ASSERT_EQ(Hex(ciphertext.data(), whole), Hex(reference.data(), whole))
            << "trial " << trial << ", length " << length;
        ASSERT_EQ(Hex(ciphertext.data() + whole, length - whole),
                  Hex(std::vector<uint8_t>(length - whole, 0xee).data(), length - whole))
            << "tail overwritten, trial " << trial;

        std::vector<uint8_t> decrypted(whole);
        Aes256DecryptEcb(decrypted.data(), reference.data(), key.data(), whole);
        ASSERT_EQ(Hex(decrypted.data(), whole), Hex(plaintext.data(), whole))
            << "inverse, trial " << trial;
    }
}

}  // namespace
}  // namespace kx7
