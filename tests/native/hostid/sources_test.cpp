// The small sources of the fingerprint: the trace line bound, the processor text, the local
// time block and the disk serial read through the IDENTIFY seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connector/hostid/cpu_id.h"
#include "connector/hostid/date_time.h"
#include "connector/hostid/debug_out.h"
#include "connector/hostid/disk_serial.h"
#include "tests/fakes/fake_host_sources.h"

namespace kx7 {
namespace {

TEST(DebugOut, LinesUpTo511UnitsPassWholeLongerOnesAreCut) {
    test::RecordingDebugSink sink;
    DebugOut(sink, L"NIC # 0, MAC ID   : 00-1B-A2-3C-4D-5E\n");
    const std::wstring exact(511, L'x');
    DebugOut(sink, exact);
    std::wstring longer = L"Registered NIC Description : " + std::wstring(600, L'd') + L"\n";
    DebugOut(sink, longer);
    EXPECT_EQ(sink.lines, (std::vector<std::wstring>{L"NIC # 0, MAC ID   : 00-1B-A2-3C-4D-5E\n",
                                                     exact, longer.substr(0, 511)}));
}

TEST(DebugOut, CutNeverSplitsASurrogatePair) {
    test::RecordingDebugSink sink;
    const auto pairAt = [](size_t offset) {
        return std::wstring(offset, L'a') + static_cast<wchar_t>(0xD83D) +
               static_cast<wchar_t>(0xDE00) + L"tail";
    };
    // The pair starts at unit 510: keeping 511 units would leave its first half alone.
    DebugOut(sink, pairAt(510));
    EXPECT_EQ(sink.lines.at(0), std::wstring(510, L'a'));

    // A pair that ends exactly at unit 511 fits.
    const std::wstring line = pairAt(509);
    DebugOut(sink, line);
    EXPECT_EQ(sink.lines.at(1), line.substr(0, 511));
}

TEST(CpuIdText, UpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(CpuIdText(0x000306C3), L"306C3");
    EXPECT_EQ(CpuIdText(0x00000F29), L"F29");
    EXPECT_EQ(CpuIdText(0xA0655), L"A0655");
    EXPECT_EQ(CpuIdText(0xFFFFFFFF), L"FFFFFFFF");
    EXPECT_EQ(CpuIdText(0x10000000), L"10000000");
    EXPECT_EQ(CpuIdText(0), L"0");
}

TEST(GetCurrentDateTime, CalendarFieldsAndFailureMarkers) {
    test::FakeLocalTime clock;
    // 31 December 2000, with a leap second as the library gives it.
    clock.Set({100, 11, 31, 0, 0, 60, 0});
    SystemTime t;
    t.wDayOfWeek = t.wMilliseconds = 77;
    GetCurrentDateTime(clock, &t);
    // Year, month, day of the week, day, hour, minute, second, milliseconds.
    EXPECT_EQ(test::Fields(t), (std::vector<int>{2000, 12, 0, 31, 0, 0, 60, 0}));

    clock.works = false;
    GetCurrentDateTime(clock, &t);
    EXPECT_EQ(test::Fields(t), (std::vector<int>{0, 0, 0, 0, 65535, 65535, 65535, 0}));
}

TEST(GetDiskSerial, WritesTwentyBytesOnlyAndNothingOnFailure) {
    test::FakeAtaIdentify disk;
    disk.SetSerial("S3Z9NB0K123456Y7QX4Z");
    char out[32];
    std::memset(out, '#', sizeof(out));
    ASSERT_TRUE(GetDiskSerial(disk, 3, out));
    EXPECT_EQ(std::string(out, 20), "S3Z9NB0K123456Y7QX4Z");
    EXPECT_EQ(std::string(out + 20, 12), std::string(12, '#')) << "written past 20 bytes";
    EXPECT_EQ(disk.drives, std::vector<int>{3});

    disk.SetSerial(" A ");
    std::memset(out, '#', sizeof(out));
    ASSERT_TRUE(GetDiskSerial(disk, 0, out));
    EXPECT_EQ(std::string(out, 20), std::string("A") + std::string(19, '\0'));

    disk.answers = false;
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(GetDiskSerial(disk, 0, out));
    EXPECT_EQ(std::string(out, sizeof(out)), std::string(sizeof(out), '#'));
}

}  // namespace
}  // namespace kx7
