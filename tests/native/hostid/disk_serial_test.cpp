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

// The serial field as the drive means it (blank-padded to 20) and the text it gives, which is
// zero-padded to 20 bytes unless it fills them.
struct SerialCase {
    const char* name;
    const char* field;
    const char* text;
    friend void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }
};
const SerialCase kSerials[] = {
    {"TrimsBothEndsAndRestoresReadingOrder", "  AB12", "AB12"},
    {"InnerBlanksStay", " WD-WX 1 A2", "WD-WX 1 A2"},
    {"OddLeadingBlankCount", "   X", "X"},
    {"TwentyCharactersComeBackWholeWithoutTerminator", "S3Z9NB0K123456Y7QX4Z",
     "S3Z9NB0K123456Y7QX4Z"},
    {"AllBlanksGiveEmptyText", "", ""},
};

class DiskSerial : public ::testing::TestWithParam<SerialCase> {};
INSTANTIATE_TEST_SUITE_P(Identify, DiskSerial, ::testing::ValuesIn(kSerials),
                         ::testing::PrintToStringParamName());

TEST_P(DiskSerial, ComesFromTheIdentifyField) {
    const auto serial = DiskSerialFromIdentify(IdentifyWithSerial(GetParam().field));
    std::string expected = GetParam().text;
    expected.resize(kSerialLength, '\0');
    EXPECT_EQ(std::string(serial.data(), serial.size()), expected);
}

TEST(AtaStringToText, OnlyBlanksAreTrimmedAndOtherBytesPass) {
    // Tabs and high bytes are not blanks; a word count other than the serial's works too.
    const uint16_t words[] = {0x2009, 0x41FF, 0x2020};
    char text[7];
    std::memset(text, 'x', sizeof(text));
    AtaStringToText(text, words, 3);
    EXPECT_EQ(std::string(text, sizeof(text)), std::string("\tA\xFF\0\0\0\0", 7));
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
