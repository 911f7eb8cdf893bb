#include "connector/engine/crypto/sha256.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/native/crypto/rsp_reader.h"

namespace kx7 {
namespace {

using namespace test;  // the known-answer file reader

struct MessageCase {
    std::vector<uint8_t> message;
    std::string digest_hex;
};

// Loads the message files; Len is in bits, and the empty message is written as "Msg = 00".
std::vector<MessageCase> LoadMessages(const std::string& file) {
    std::vector<RspRecord> records;
    std::string error;
    EXPECT_TRUE(ReadRspFile(VectorPath("hashes/SHA2/" + file), &records, &error)) << error;
    std::vector<MessageCase> cases;
    for (const RspRecord& record : records) {
        if (record.fields.count("Len") == 0) {
            continue;
        }
        const unsigned long bits = std::strtoul(record.fields.at("Len").c_str(), nullptr, 10);
        EXPECT_EQ(bits % 8, 0u) << "bit-level messages are not supported";
        MessageCase entry;
        EXPECT_TRUE(DecodeHex(record.fields.at("Msg"), &entry.message));
        entry.message.resize(bits / 8);
        entry.digest_hex = record.fields.at("MD");
        cases.push_back(entry);
    }
    return cases;
}

std::string DigestHex(const std::vector<uint8_t>& message) {
    uint8_t digest[kSha256DigestSize];
    Sha256Digest(message.data(), message.size(), digest);
    return EncodeHex(digest, sizeof(digest));
}

// Feeds the message in pieces of `chunk` bytes, so that the carry-over between Update calls
// is exercised at every offset within a block.
std::string ChunkedDigestHex(const std::vector<uint8_t>& message, size_t chunk) {
    Sha256Context context;
    Sha256Init(&context);
    for (size_t offset = 0; offset < message.size(); offset += chunk) {
        const size_t take = std::min(chunk, message.size() - offset);
        Sha256Update(&context, message.data() + offset, take);
    }
    uint8_t digest[kSha256DigestSize];
    Sha256Final(&context, digest);
    return EncodeHex(digest, sizeof(digest));
}

TEST(Sha256, ShortMessagesMatchKnownAnswers) {
    // Lengths 0 to 64 bytes, which covers every padding case, including the one where the
    // length field spills into an extra block.
    const std::vector<MessageCase> cases = LoadMessages("SHA256ShortMsg.rsp");
    ASSERT_EQ(cases.size(), 65u);
    for (const MessageCase& entry : cases) {
        EXPECT_EQ(DigestHex(entry.message), entry.digest_hex) << "length " << entry.message.size();
        EXPECT_EQ(ChunkedDigestHex(entry.message, 1), entry.digest_hex)
            << "byte at a time, length " << entry.message.size();
    }
}

TEST(Sha256, LongMessagesMatchKnownAnswersWhateverTheUpdateSizes) {
    const std::vector<MessageCase> cases = LoadMessages("SHA256LongMsg.rsp");
    ASSERT_EQ(cases.size(), 64u);
    for (const MessageCase& entry : cases) {
        EXPECT_EQ(DigestHex(entry.message), entry.digest_hex) << "length " << entry.message.size();
        for (size_t chunk : {1u, 7u, 63u, 64u, 65u, 200u}) {
            EXPECT_EQ(ChunkedDigestHex(entry.message, chunk), entry.digest_hex)
                << "chunk " << chunk << ", length " << entry.message.size();
        }
    }
}

TEST(Sha256, MonteCarloCheckpointsMatch) {
    std::vector<RspRecord> records;
    std::string error;
    ASSERT_TRUE(ReadRspFile(VectorPath("hashes/SHA2/SHA256Monte.rsp"), &records, &error)) << error;
    std::vector<uint8_t> seed;
    std::vector<std::string> checkpoints;
    for (const RspRecord& record : records) {
        if (record.fields.count("Seed") != 0) {
            ASSERT_TRUE(DecodeHex(record.fields.at("Seed"), &seed));
        } else if (record.fields.count("MD") != 0) {
            checkpoints.push_back(record.fields.at("MD"));
        }
    }
    ASSERT_EQ(seed.size(), kSha256DigestSize);
    ASSERT_EQ(checkpoints.size(), 100u);

    for (size_t j = 0; j < checkpoints.size(); ++j) {
        // Each step hashes the three previous digests back to back.
        std::vector<uint8_t> window(seed);
        window.insert(window.end(), seed.begin(), seed.end());
        window.insert(window.end(), seed.begin(), seed.end());
        uint8_t digest[kSha256DigestSize];
        for (int i = 0; i < 1000; ++i) {
            Sha256Digest(window.data(), window.size(), digest);
            window.erase(window.begin(), window.begin() + kSha256DigestSize);
            window.insert(window.end(), digest, digest + kSha256DigestSize);
        }
        ASSERT_EQ(EncodeHex(digest, sizeof(digest)), checkpoints[j]) << "checkpoint " << j;
        seed.assign(digest, digest + kSha256DigestSize);
    }
}

TEST(Sha256, ContextCanBeReusedAfterInit) {
    const uint8_t first[] = {'a', 'b', 'c'};
    Sha256Context context;
    Sha256Init(&context);
    Sha256Update(&context, first, sizeof(first));
    uint8_t digest[kSha256DigestSize];
    Sha256Final(&context, digest);

    // Nothing of the first message may survive into the second one.
    Sha256Init(&context);
    Sha256Update(&context, nullptr, 0);
    Sha256Final(&context, digest);
    EXPECT_EQ(EncodeHex(digest, sizeof(digest)),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace kx7
