#include "connector/engine/crypto/aes256.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "connector/engine/crypto/aes256_inverse.h"
#include "tests/native/crypto/rsp_reader.h"

namespace kx7 {
namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(test::DecodeHex(hex, &bytes)) << hex;
    return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    return test::EncodeHex(bytes.data(), bytes.size());
}

// One ECB known-answer file and the number of records in each of its two sections, so that
// none is skipped.
struct KnownAnswerFile {
    const char* name;
    const char* file;
    size_t perSection;
    friend void PrintTo(const KnownAnswerFile& f, std::ostream* os) { *os << f.name; }
};
const KnownAnswerFile kKnownAnswerFiles[] = {
    {"GfSbox", "ECBGFSbox256.rsp", 5},           {"KeySbox", "ECBKeySbox256.rsp", 16},
    {"VarKey", "ECBVarKey256.rsp", 256},         {"VarTxt", "ECBVarTxt256.rsp", 128},
    {"MultiBlockMessages", "ECBMMT256.rsp", 10},
};

class Aes256KnownAnswers : public ::testing::TestWithParam<KnownAnswerFile> {};
INSTANTIATE_TEST_SUITE_P(Aes256, Aes256KnownAnswers, ::testing::ValuesIn(kKnownAnswerFiles),
                         ::testing::PrintToStringParamName());

// Every record of the file through the matching direction.
TEST_P(Aes256KnownAnswers, AllRecordsMatch) {
    const std::string file = GetParam().file;
    std::vector<test::RspRecord> records;
    std::string error;
    ASSERT_TRUE(test::ReadRspFile(test::VectorPath("ciphers/AES/ECB/" + file), &records, &error))
        << error;
    size_t encrypted = 0;
    size_t decrypted = 0;
    for (const test::RspRecord& record : records) {
        const std::vector<uint8_t> key = Hex(record.fields.at("KEY"));
        const std::vector<uint8_t> plaintext = Hex(record.fields.at("PLAINTEXT"));
        const std::vector<uint8_t> ciphertext = Hex(record.fields.at("CIPHERTEXT"));
        ASSERT_EQ(key.size(), kAes256KeySize);
        ASSERT_EQ(plaintext.size(), ciphertext.size());
        ASSERT_EQ(plaintext.size() % kAesBlockSize, 0u);
        const std::string where = file + " " + record.section + " " + record.fields.at("COUNT");
        std::vector<uint8_t> result(plaintext.size());
        if (record.section == "ENCRYPT") {
            Aes256EncryptEcb(result.data(), plaintext.data(), key.data(), plaintext.size());
            EXPECT_EQ(Hex(result), Hex(ciphertext)) << where;
            if (plaintext.size() == kAesBlockSize) {
                std::vector<uint8_t> block(kAesBlockSize);
                Aes256EncryptBlock(block.data(), plaintext.data(), key.data());
                EXPECT_EQ(Hex(block), Hex(ciphertext)) << where;
            }
            ++encrypted;
        } else if (record.section == "DECRYPT") {
            Aes256DecryptEcb(result.data(), ciphertext.data(), key.data(), ciphertext.size());
            EXPECT_EQ(Hex(result), Hex(plaintext)) << where;
            if (ciphertext.size() == kAesBlockSize) {
                std::vector<uint8_t> block(kAesBlockSize);
                Aes256DecryptBlock(block.data(), ciphertext.data(), key.data());
                EXPECT_EQ(Hex(block), Hex(plaintext)) << where;
            }
            ++decrypted;
        } else {
            ADD_FAILURE() << "unknown section " << record.section << " in " << file;
        }
    }
    EXPECT_EQ(encrypted, GetParam().perSection) << file;
    EXPECT_EQ(decrypted, GetParam().perSection) << file;
}

const std::vector<uint8_t> kExampleKey =
    Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const std::vector<uint8_t> kExamplePlaintext = Hex("00112233445566778899aabbccddeeff");
const std::vector<uint8_t> kExampleCiphertext = Hex("8ea2b7ca516745bfeafc49904b496089");

TEST(Aes256, StandardExampleEncryptsAndDecrypts) {
    std::vector<uint8_t> block(kAesBlockSize);
    Aes256EncryptBlock(block.data(), kExamplePlaintext.data(), kExampleKey.data());
    EXPECT_EQ(Hex(block), Hex(kExampleCiphertext));
    Aes256DecryptBlock(block.data(), kExampleCiphertext.data(), kExampleKey.data());
    EXPECT_EQ(Hex(block), Hex(kExamplePlaintext));
}

std::vector<uint8_t> PatternedMessage(size_t length) {
    // Distinct blocks, so that a mix-up of block order or offsets shows.
    std::vector<uint8_t> message(length);
    for (size_t i = 0; i < length; ++i) {
        message[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    return message;
}

TEST(Aes256, EcbEqualsOneBlockCallPerBlock) {
    const std::vector<uint8_t> plaintext = PatternedMessage(128);
    std::vector<uint8_t> whole(plaintext.size());
    Aes256EncryptEcb(whole.data(), plaintext.data(), kExampleKey.data(), plaintext.size());

    std::vector<uint8_t> blockwise(plaintext.size());
    for (size_t offset = 0; offset < plaintext.size(); offset += kAesBlockSize) {
        Aes256EncryptBlock(blockwise.data() + offset, plaintext.data() + offset,
                           kExampleKey.data());
    }
    EXPECT_EQ(Hex(whole), Hex(blockwise));

    std::vector<uint8_t> decrypted(whole.size());
    Aes256DecryptEcb(decrypted.data(), whole.data(), kExampleKey.data(), whole.size());
    EXPECT_EQ(Hex(decrypted), Hex(plaintext));
}

TEST(Aes256, WorksInPlace) {
    std::vector<uint8_t> block = kExamplePlaintext;
    Aes256EncryptBlock(block.data(), block.data(), kExampleKey.data());
    EXPECT_EQ(Hex(block), Hex(kExampleCiphertext));
    Aes256DecryptBlock(block.data(), block.data(), kExampleKey.data());
    EXPECT_EQ(Hex(block), Hex(kExamplePlaintext));

    const std::vector<uint8_t> plaintext = PatternedMessage(96);
    std::vector<uint8_t> expected(plaintext.size());
    Aes256EncryptEcb(expected.data(), plaintext.data(), kExampleKey.data(), plaintext.size());
    std::vector<uint8_t> buffer = plaintext;
    Aes256EncryptEcb(buffer.data(), buffer.data(), kExampleKey.data(), buffer.size());
    EXPECT_EQ(Hex(buffer), Hex(expected));
    Aes256DecryptEcb(buffer.data(), buffer.data(), kExampleKey.data(), buffer.size());
    EXPECT_EQ(Hex(buffer), Hex(plaintext));
}

TEST(Aes256, PartialTrailingBlockIsLeftUntouched) {
    const std::vector<uint8_t> plaintext = PatternedMessage(40);
    std::vector<uint8_t> expected(32);
    Aes256EncryptEcb(expected.data(), plaintext.data(), kExampleKey.data(), 32);

    std::vector<uint8_t> out(plaintext.size(), 0xa5);
    Aes256EncryptEcb(out.data(), plaintext.data(), kExampleKey.data(), out.size());
    EXPECT_EQ(Hex(std::vector<uint8_t>(out.begin(), out.begin() + 32)), Hex(expected));
    EXPECT_EQ(Hex(std::vector<uint8_t>(out.begin() + 32, out.end())),
              Hex(std::vector<uint8_t>(8, 0xa5)));

    std::vector<uint8_t> buffer = plaintext;
    Aes256EncryptEcb(buffer.data(), buffer.data(), kExampleKey.data(), buffer.size());
    EXPECT_EQ(Hex(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 32)), Hex(expected));
    EXPECT_EQ(Hex(std::vector<uint8_t>(buffer.begin() + 32, buffer.end())),
              Hex(std::vector<uint8_t>(plaintext.begin() + 32, plaintext.end())));

    Aes256DecryptEcb(buffer.data(), buffer.data(), kExampleKey.data(), buffer.size());
    EXPECT_EQ(Hex(buffer), Hex(plaintext));
}

TEST(Aes256, LessThanOneBlockWritesNothing) {
    const std::vector<uint8_t> plaintext = PatternedMessage(15);
    std::vector<uint8_t> out(plaintext.size(), 0x3c);
    Aes256EncryptEcb(out.data(), plaintext.data(), kExampleKey.data(), out.size());
    EXPECT_EQ(Hex(out), Hex(std::vector<uint8_t>(15, 0x3c)));
    Aes256DecryptEcb(out.data(), plaintext.data(), kExampleKey.data(), out.size());
    EXPECT_EQ(Hex(out), Hex(std::vector<uint8_t>(15, 0x3c)));
    Aes256EncryptEcb(nullptr, nullptr, kExampleKey.data(), 0);
}

TEST(Aes256, ConcurrentCallersWithDifferentKeysDoNotInterfere) {
    // Any state kept outside the caller's stack would let one thread's key leak into another
    // thread's output.
    constexpr int kThreads = 4;
    const std::vector<uint8_t> plaintext = PatternedMessage(4096);
    std::vector<std::vector<uint8_t>> keys;
    std::vector<std::vector<uint8_t>> expected;
    for (int t = 0; t < kThreads; ++t) {
        std::vector<uint8_t> key = kExampleKey;
        key[0] = static_cast<uint8_t>(t);
        std::vector<uint8_t> ciphertext(plaintext.size());
        Aes256EncryptEcb(ciphertext.data(), plaintext.data(), key.data(), plaintext.size());
        keys.push_back(key);
        expected.push_back(ciphertext);
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t]() {
            std::vector<uint8_t> out(plaintext.size());
            for (int round = 0; round < 50; ++round) {
                Aes256EncryptEcb(out.data(), plaintext.data(), keys[t].data(), out.size());
                if (out != expected[t]) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

}  // namespace
}  // namespace kx7
