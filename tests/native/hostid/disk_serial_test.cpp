#include "connector/hostid/disk_serial.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kx7 {
namespace {

// An IDENTIFY answer whose serial field reads as the given 20 characters, stored the way a
// drive sends them: the first character of each pair in the high byte of a little-endian word.
std::array<uint8_t, kIdentifySize> IdentifyWithSerial(const std::string& serial) {
    std::array<uint8_t, kIdentifySize> identify{};
    for (size_t i = 0; i < identify.size(); ++i) {
        identify[i] = static_cast<uint8_t>('a' + i % 26);  // noise outside the field
    }
    for (size_t i = 0; i < kSerialLength; ++i) {
        const size_t byte = 2 * kSerialFirstWord + (i ^ 1);
        identify[byte] = static_cast<uint8_t>(i < serial.size() ? serial[i] : ' ');
    }
    return identify;
}

std::string Text(const std::array<char, kSerialLength>& serial) {
    return std::string(serial.data(), strnlen(serial.data(), serial.size()));
}

TEST(DiskSerial, TrimsBothEndsAndRestoresReadingOrder) {
    const auto serial = DiskSerialFromIdentify(IdentifyWithSerial("  AB12"));
    EXPECT_EQ(Text(serial), "AB12");
    for (size_t i = 4; i < serial.size(); ++i) {
        EXPECT_EQ(serial[i], '\0') << "byte " << i;
    }
}

TEST(DiskSerial, InnerBlanksStayAndOddLeadingCountWorks) {
    EXPECT_EQ(Text(DiskSerialFromIdentify(IdentifyWithSerial(" WD-WX 1 A2"))), "WD-WX 1 A2");
    EXPECT_EQ(Text(DiskSerialFromIdentify(IdentifyWithSerial("   X"))), "X");
}

TEST(DiskSerial, TwentyCharactersComeBackWholeWithoutTerminator) {
    const std::string full = "S3Z9NB0K123456Y7QX4Z";
    const auto serial = DiskSerialFromIdentify(IdentifyWithSerial(full));
    EXPECT_EQ(std::string(serial.data(), serial.size()), full);
}

TEST(DiskSerial, AllBlanksGiveEmptyText) {
    const auto serial = DiskSerialFromIdentify(IdentifyWithSerial(""));
    for (char c : serial) {
        EXPECT_EQ(c, '\0');
    }
}

TEST(AtaStringToText, OnlyBlanksAreTrimmedAndOtherBytesPass) {
    // Tabs and high bytes are not blanks; a word count other than the serial's works too.
    const uint16_t words[] = {0x2009, 0x41FF, 0x2020};
    char text[7];
    std::memset(text, 'x', sizeof(text));
    AtaStringToText(text, words, 3);
    EXPECT_EQ(std::string(text),
              "\x09"
              "A\xFF");
    EXPECT_EQ(text[4], '\0');
    EXPECT_EQ(text[5], '\0');
    EXPECT_EQ(text[3], '\0');
    EXPECT_EQ(text[6], '\0');
}

TEST(IdentifyWord, LittleEndian) {
    std::array<uint8_t, kIdentifySize> identify{};
    identify[20] = 0x34;
    identify[21] = 0x12;
    EXPECT_EQ(IdentifyWord(identify, 10), 0x1234);
}

TEST(SmartRequest, DriveZeroAndOneSelectMasterAndSlave) {
    EXPECT_EQ(DriveHeadRegister(0), 0xA0);
    EXPECT_EQ(DriveHeadRegister(1), 0xB0);
    EXPECT_EQ(DriveHeadRegister(2), 0xA0);
    EXPECT_EQ(DriveHeadRegister(3), 0xB0);

    const auto request = BuildSmartIdentifyRequest(1);
    const uint8_t head[] = {0x00, 0x02, 0x00, 0x00, 0, 1, 1, 0, 0, 0xB0, 0xEC, 0, 1};
    for (size_t i = 0; i < sizeof(head); ++i) {
        EXPECT_EQ(request[i], head[i]) << "offset " << i;
    }
    for (size_t i = sizeof(head); i < request.size(); ++i) {
        EXPECT_EQ(request[i], 0) << "offset " << i;
    }
    EXPECT_EQ(BuildSmartIdentifyRequest(0)[9], 0xA0);
    EXPECT_EQ(BuildSmartIdentifyRequest(0)[12], 0);
    EXPECT_EQ(BuildSmartIdentifyRequest(0x105)[12], 0x05);
}

TEST(SmartRequest, ResultBlockAndDevicePath) {
    const auto result = NewSmartIdentifyResult();
    EXPECT_EQ(result[0], 0x11);  // 529
    EXPECT_EQ(result[1], 0x02);
    for (size_t i = 2; i < result.size(); ++i) {
        ASSERT_EQ(result[i], 0) << "offset " << i;
    }
    EXPECT_EQ(PhysicalDrivePath(0), L"\\\\.\\PhysicalDrive0");
    EXPECT_EQ(PhysicalDrivePath(12), L"\\\\.\\PhysicalDrive12");
}

}  // namespace
}  // namespace kx7
