#include "connector/hostid/product_key.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "tests/fakes/fake_registry.h"

namespace kx7 {
namespace {

using test::FakeRegistry;
using u128 = unsigned __int128;

const std::wstring kAlphabet = L"BCDFGHJKMPQRTVWXY2346789";
const u128 kMask120 = (static_cast<u128>(1) << 120) - 1;

std::array<uint8_t, kEncodedKeySize> ToBytes(u128 number) {
    std::array<uint8_t, kEncodedKeySize> bytes{};
    for (size_t i = 0; i < kEncodedKeySize; ++i) {
        bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    }
    return bytes;
}

// Independent of the byte-wise long division under test: native 128-bit arithmetic, most
// significant digit first.
std::vector<int> Base24Digits(u128 number) {
    std::vector<int> digits(25);
    for (int i = 24; i >= 0; --i) {
        digits[i] = static_cast<int>(number % 24);
        number /= 24;
    }
    return digits;
}

std::wstring Grouped(const std::vector<int>& digits) {
    std::wstring text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && i % 5 == 0) {
            text.push_back(L'-');
        }
        text.push_back(kAlphabet[digits[i]]);
    }
    return text;
}

u128 Random120(std::mt19937_64& rng) {
    return ((static_cast<u128>(rng()) << 64) | rng()) & kMask120;
}

std::vector<uint8_t> ProductIdValue(const std::array<uint8_t, kEncodedKeySize>& encoded,
                                    size_t size = kDigitalProductIdSize) {
    // Filler around the key so that reading the wrong bytes shows.
    std::vector<uint8_t> value(size, 0xA5);
    for (size_t i = 0; i < kEncodedKeySize && kEncodedKeyOffset + i < size; ++i) {
        value[kEncodedKeyOffset + i] = encoded[i];
    }
    return value;
}

TEST(DecodeProductKey, ShapeIsFiveGroupsOfFiveOverTheAlphabet) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 200; ++round) {
        const std::wstring text = DecodeProductKey(ToBytes(Random120(rng)));
        ASSERT_EQ(text.size(), kProductKeyTextLength);
        for (size_t pos = 1; pos <= text.size(); ++pos) {
            if (pos % 6 == 0) {
                EXPECT_EQ(text[pos - 1], L'-') << "position " << pos;
            } else {
                EXPECT_NE(kAlphabet.find(text[pos - 1]), std::wstring::npos) << "position " << pos;
            }
        }
    }
}

TEST(DecodeProductKey, KnownValues) {
    EXPECT_EQ(DecodeProductKey(ToBytes(0)), L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB");
    EXPECT_EQ(DecodeProductKey(ToBytes(1)), L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC");
    EXPECT_EQ(DecodeProductKey(ToBytes(23)), L"BBBBB-BBBBB-BBBBB-BBBBB-BBBB9");
    EXPECT_EQ(DecodeProductKey(ToBytes(24)), L"BBBBB-BBBBB-BBBBB-BBBBB-BBBCB");
    // 24^5 carries into the second group from the right.
    EXPECT_EQ(DecodeProductKey(ToBytes(7962624)), L"BBBBB-BBBBB-BBBBB-BBBBC-BBBBB");
}

TEST(DecodeProductKey, MatchesIndependentEncoderOnRandomNumbers) {
    std::mt19937_64 rng(12345);
    // Every bit of all 15 bytes counts, the top byte included; numbers beyond 24^25 keep only
    // their 25 low digits.
    std::vector<u128> numbers = {kMask120, static_cast<u128>(1) << 119,
                                 static_cast<u128>(0x80) << 112};
    for (int i = 0; i < 1000; ++i) {
        numbers.push_back(Random120(rng));
    }
    for (u128 n : numbers) {
        ASSERT_EQ(DecodeProductKey(ToBytes(n)), Grouped(Base24Digits(n)));
    }
}

TEST(DecodeProductKey, RandomDigitsRoundTrip) {
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<int> digit(0, 23);
    for (int round = 0; round < 1000; ++round) {
        std::vector<int> digits(25);
        u128 number = 0;
        for (int& d : digits) {
            d = digit(rng);
            number = number * 24 + static_cast<u128>(d);
        }
        ASSERT_EQ(DecodeProductKey(ToBytes(number)), Grouped(digits));
    }
}

class WindowsKeyTest : public ::testing::Test {
  protected:
    void Plant(std::vector<uint8_t> value, uint32_t type = kRegBinary) {
        reg_.SetRaw(RegRoot::kLocalMachine, path_, L"DigitalProductId", type, std::move(value));
    }
    FakeRegistry reg_;
    const std::wstring path_ = kProductKeyPath;
};

TEST_F(WindowsKeyTest, ReadsBytes52To66From64BitView) {
    std::mt19937_64 rng(3);
    const u128 n = Random120(rng);
    Plant(ProductIdValue(ToBytes(n)));
    std::wstring key;
    ASSERT_TRUE(GetWindowsKey(reg_, &key));
    EXPECT_EQ(key, Grouped(Base24Digits(n)));
    ASSERT_EQ(reg_.opens().size(), 1u);
    EXPECT_EQ(reg_.opens()[0].root, RegRoot::kLocalMachine);
    EXPECT_EQ(reg_.opens()[0].path, L"SOFTWARE\\MICROSOFT\\Windows NT\\CurrentVersion");
    EXPECT_EQ(reg_.opens()[0].access, 0x101u);
    EXPECT_FALSE(reg_.opens()[0].create);
    EXPECT_EQ(reg_.openHandles(), 0u);
}

TEST_F(WindowsKeyTest, TypeIsNotExaminedAndShortValuesReadAsZeros) {
    Plant(ProductIdValue(ToBytes(12345), kDigitalProductIdSize), kRegSz);
    std::wstring key;
    ASSERT_TRUE(GetWindowsKey(reg_, &key));
    EXPECT_EQ(key, Grouped(Base24Digits(12345)));

    // Only the first 10 bytes exist; the key bytes come from the zeroed buffer.
    Plant(std::vector<uint8_t>(10, 0xFF));
    ASSERT_TRUE(GetWindowsKey(reg_, &key));
    EXPECT_EQ(key, L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB");
}

TEST_F(WindowsKeyTest, ValueOf164BytesFitsButOneMoreDoesNot) {
    Plant(ProductIdValue(ToBytes(1), 164));
    std::wstring key;
    EXPECT_TRUE(GetWindowsKey(reg_, &key));

    Plant(ProductIdValue(ToBytes(1), 165));
    key = L"previous";
    EXPECT_FALSE(GetWindowsKey(reg_, &key));
    EXPECT_EQ(key, L"previous");
    EXPECT_EQ(reg_.openHandles(), 0u);
}

TEST_F(WindowsKeyTest, MissingOrDeniedLeavesOutputUntouched) {
    std::wstring key = L"previous";
    EXPECT_FALSE(GetWindowsKey(reg_, &key));  // no key at all
    EXPECT_EQ(key, L"previous");

    reg_.SetRaw(RegRoot::kLocalMachine, path_, L"ProductId", kRegSz, {0x41, 0});
    EXPECT_FALSE(GetWindowsKey(reg_, &key));  // key without the value
    EXPECT_EQ(key, L"previous");

    Plant(ProductIdValue(ToBytes(1)));
    reg_.DenyKey(RegRoot::kLocalMachine, path_);
    EXPECT_FALSE(GetWindowsKey(reg_, &key));
    EXPECT_EQ(key, L"previous");
    EXPECT_EQ(reg_.openHandles(), 0u);
}

}  // namespace
}  // namespace kx7
